#include "net/Transport.h"

#include <cstdlib>

#include "NuvaConfig.h"
#include "net/NetTexts.h"
#include "platform/Platform.h"

namespace nuva::net {

namespace {

constexpr uint32_t kMaxTimeoutMs = 3600000;

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
    for (int i = 0; i < 64; ++i)
        if (kBase64[i] == c) return i;
    return -1;
}

bool Unbase64(const std::string& text, std::string& bytes) {
    if (text.size() % 4 != 0) return false;
    bytes.clear();
    for (size_t i = 0; i < text.size(); i += 4) {
        int v[4];
        for (int k = 0; k < 4; ++k) {
            const char c = text[i + k];
            // Padding only at the end, in the last one or two places.
            v[k] = c == '=' && i + 4 == text.size() && k >= 2 ? 0 : Base64Value(c);
            if (v[k] < 0) return false;
        }
        if (text[i + 2] == '=' && text[i + 3] != '=') return false;
        const uint32_t n = (v[0] << 18) | (v[1] << 12) | (v[2] << 6) | v[3];
        bytes += static_cast<char>(n >> 16);
        if (text[i + 2] != '=') bytes += static_cast<char>(n >> 8);
        if (text[i + 3] != '=') bytes += static_cast<char>(n);
    }
    return true;
}

}  // namespace

std::string Base64(const std::string& bytes) {
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
        uint32_t v = 0;
        for (size_t k = 0; k < 3; ++k)
            v = (v << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0);
        out += kBase64[(v >> 18) & 63];
        out += kBase64[(v >> 12) & 63];
        out += n > 1 ? kBase64[(v >> 6) & 63] : '=';
        out += n > 2 ? kBase64[v & 63] : '=';
    }
    return out;
}

bool ParsePin(const std::string& text, std::string& pin) {
    std::string b64 = text;
    if (b64.compare(0, 8, "sha256//") == 0) b64 = b64.substr(8);
    std::string bytes;
    if (!Unbase64(b64, bytes) || bytes.size() != 32) return false;
    pin = bytes;
    return true;
}

namespace {

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// Four bytes of a dotted IPv4 address, or empty.
std::string Ipv4(const std::string& host) {
    std::string bytes;
    size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        const size_t end = part < 3 ? host.find('.', at) : host.size();
        if (end == std::string::npos || end == at || end - at > 3) return "";
        const std::string digits = host.substr(at, end - at);
        if (digits.find_first_not_of("0123456789") != std::string::npos) return "";
        const unsigned long value = std::strtoul(digits.c_str(), nullptr, 10);
        if (value > 255) return "";
        bytes += static_cast<char>(value);
        at = end + 1;
    }
    return bytes;
}

bool NameMatches(const std::string& pattern, const std::string& host) {
    const std::string p = Lower(pattern), h = Lower(host);
    if (p.compare(0, 2, "*.") != 0) return p == h;
    const size_t dot = h.find('.');
    return dot != std::string::npos && dot > 0 && h.substr(dot) == p.substr(1);
}

}  // namespace

bool CertificateNamesHost(const std::vector<std::string>& dnsNames,
                          const std::vector<std::string>& ipAddresses,
                          const std::string& commonName, const std::string& host) {
    if (!host.empty() && host[0] == '[') return false;
    const std::string ip = Ipv4(host);
    if (!ip.empty()) {
        for (const std::string& address : ipAddresses)
            if (address == ip) return true;
        return false;
    }
    for (const std::string& name : dnsNames)
        if (NameMatches(name, host)) return true;
    return dnsNames.empty() && ipAddresses.empty() && !commonName.empty() &&
           NameMatches(commonName, host);
}

bool ParseUrl(const std::string& url, TTransportSettings& s) {
    const size_t sep = url.find("://");
    if (sep == std::string::npos) return false;
    std::string scheme = url.substr(0, sep);
    for (char& c : scheme)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (scheme != "http" && scheme != "https") return false;
    std::string rest = url.substr(sep + 3);
    if (rest.find_first_of("?#@ \t") != std::string::npos) return false;
    const size_t slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    std::string prefix = slash == std::string::npos ? std::string() : rest.substr(slash);
    while (!prefix.empty() && prefix.back() == '/') prefix.pop_back();

    std::string host, port;
    if (!authority.empty() && authority[0] == '[') {
        const size_t close = authority.find(']');
        if (close == std::string::npos) return false;
        host = authority.substr(0, close + 1);
        const std::string after = authority.substr(close + 1);
        if (!after.empty() && (after[0] != ':' || after.size() == 1)) return false;
        if (!after.empty()) port = after.substr(1);
    } else {
        const size_t colon = authority.find(':');
        host = authority.substr(0, colon);
        if (colon != std::string::npos) {
            port = authority.substr(colon + 1);
            if (port.empty()) return false;
        }
    }
    if (host.empty() || host.size() > 255) return false;
    unsigned long number = scheme == "https" ? 443 : 80;
    if (!port.empty()) {
        if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
            return false;
        number = std::strtoul(port.c_str(), nullptr, 10);
        if (number == 0 || number > 65535) return false;
    }
    s.scheme = scheme;
    s.host = host;
    s.port = static_cast<uint16_t>(number);
    s.prefix = prefix;
    return true;
}

TTransportSettings ReadTransportSettings(const TNuvaConfig& config) {
    TTransportSettings s;
    const AnsiString url = config.Text("URL");
    if (url.empty()) throw EConfigError(WideToAnsi(texts::kNoUrl));
    if (!ParseUrl(url, s)) throw EConfigError(WideToAnsi(texts::kBadUrl) + url);
    s.connectTimeoutMs = config.Number("CONNECT_TIMEOUT", 10000, 1, kMaxTimeoutMs);
    s.sendTimeoutMs = config.Number("SEND_TIMEOUT", 30000, 1, kMaxTimeoutMs);
    s.receiveTimeoutMs = config.Number("RECEIVE_TIMEOUT", 60000, 1, kMaxTimeoutMs);
    s.proxy = config.Text("PROXY");
    s.caFile = config.Text("CA_FILE");
    const AnsiString pin = config.Text("PIN_SHA256");
    if (!pin.empty() && !ParsePin(pin, s.pinSha256))
        throw EConfigError(WideToAnsi(texts::kBadPin) + pin);
    return s;
}

}  // namespace nuva::net
