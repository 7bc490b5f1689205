// The transport over WinHTTP in synchronous mode (Windows builds). The
// session and the connection are made by Create (NuvaNet's Init), never at
// load time. The proxy is explicit: Wine's WinHTTP would otherwise follow
// http_proxy even for 127.0.0.1.
//
// HTTPS: the system's certificate store by default. With a pin, or with a CA
// file, WinHTTP's own chain check is relaxed and the server certificate is
// checked here, after WinHttpSendRequest (handshake and request line) and
// before any byte of the body goes out: a pin compares the SHA-256 of the
// certificate's public key; a CA file must hold the server's certificate or
// the certificate that signed it (no intermediates), and the certificate
// must name the URL's host (CertificateNamesHost).
#include "platform/win32/WinHeaders.h"

#include <bcrypt.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <cstring>
#include <vector>

#include "net/Transport.h"
#include "platform/Platform.h"
#include "util/util.h"

namespace nuva::net {

namespace {

constexpr DWORD kPiece = 64 * 1024;  // bytes per WinHttpWriteData / WinHttpReadData

std::wstring Wide(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

// Wine passes some socket errors through as they are.
constexpr DWORD kWsaConnReset = 10054, kWsaTimedOut = 10060, kWsaConnRefused = 10061;

TNetFault FaultOf(DWORD error) {
    switch (error) {
        case kWsaTimedOut:
            return TNetFault::Timeout;
        case kWsaConnRefused:
            return TNetFault::Refused;
        case kWsaConnReset:
            return TNetFault::Broken;
        case ERROR_WINHTTP_NAME_NOT_RESOLVED:
            return TNetFault::Resolve;
        case ERROR_WINHTTP_CANNOT_CONNECT:
            return TNetFault::Refused;
        case ERROR_WINHTTP_TIMEOUT:
            return TNetFault::Timeout;
        case ERROR_WINHTTP_SECURE_FAILURE:
        case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
        case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
        case ERROR_WINHTTP_SECURE_INVALID_CA:
        case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
        case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
        case ERROR_WINHTTP_SECURE_INVALID_CERT:
        case ERROR_WINHTTP_SECURE_CERT_REVOKED:
        case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
        case ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED:
            return TNetFault::Tls;
        case ERROR_WINHTTP_CONNECTION_ERROR:
        case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
            return TNetFault::Broken;
        default:
            return TNetFault::Other;
    }
}

[[noreturn]] void Fail(const char* call, DWORD error = GetLastError()) {
    throw ETransportError(FaultOf(error), Format("%s: WinHTTP error %lu", call,
                                                 static_cast<unsigned long>(error)));
}

class THandle {
  public:
    explicit THandle(HINTERNET h = nullptr) : h_(h) {}
    ~THandle() {
        if (h_) WinHttpCloseHandle(h_);
    }
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    HINTERNET Get() const { return h_; }

  private:
    HINTERNET h_;
};

class TCert {
  public:
    explicit TCert(PCCERT_CONTEXT c = nullptr) : c_(c) {}
    ~TCert() {
        if (c_) CertFreeCertificateContext(c_);
    }
    TCert(const TCert&) = delete;
    TCert& operator=(const TCert&) = delete;
    PCCERT_CONTEXT Get() const { return c_; }
    PCCERT_CONTEXT* Receive() { return &c_; }

  private:
    PCCERT_CONTEXT c_;
};

std::string Sha256(const uint8_t* data, size_t size) {
    BCRYPT_ALG_HANDLE alg = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    std::string digest(32, '\0');
    bool ok = BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0;
    if (ok) {
        ok = BCryptCreateHash(alg, &hash, nullptr, 0, nullptr, 0, 0) == 0 &&
             BCryptHashData(hash, const_cast<PUCHAR>(data), static_cast<ULONG>(size), 0) == 0 &&
             BCryptFinishHash(hash, reinterpret_cast<PUCHAR>(&digest[0]), 32, 0) == 0;
        if (hash) BCryptDestroyHash(hash);
        BCryptCloseAlgorithmProvider(alg, 0);
    }
    if (!ok) throw ETransportError(TNetFault::Tls, "SHA-256 of the server key failed");
    return digest;
}

// The SHA-256 of the certificate's DER-encoded SubjectPublicKeyInfo.
std::string KeyHash(PCCERT_CONTEXT cert) {
    BYTE* der = nullptr;
    DWORD size = 0;
    if (!CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO,
                             &cert->pCertInfo->SubjectPublicKeyInfo, CRYPT_ENCODE_ALLOC_FLAG,
                             nullptr, &der, &size))
        throw ETransportError(TNetFault::Tls, "cannot encode the server's public key");
    std::string hash = Sha256(der, size);
    LocalFree(der);
    return hash;
}

// The certificates of a PEM file.
std::vector<std::vector<BYTE>> ReadPem(const AnsiString& path) {
    const std::string text = LoadFileText(path);
    std::vector<std::vector<BYTE>> certs;
    const std::string begin = "-----BEGIN CERTIFICATE-----", end = "-----END CERTIFICATE-----";
    for (size_t at = text.find(begin); at != std::string::npos; at = text.find(begin, at)) {
        const size_t stop = text.find(end, at);
        if (stop == std::string::npos) break;
        const std::string block = text.substr(at, stop + end.size() - at);
        DWORD size = 0;
        if (CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                                 CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
            std::vector<BYTE> der(size);
            if (CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                                     CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr,
                                     nullptr))
                certs.push_back(std::move(der));
        }
        at = stop;
    }
    return certs;
}

class TWinHttpTransport final : public TTransport {
  public:
    explicit TWinHttpTransport(const TTransportSettings& settings) : settings_(settings) {
        const std::wstring proxy = Wide(settings.proxy);
        session_ = std::make_unique<THandle>(WinHttpOpen(
            L"NuvaNet/1.0",
            proxy.empty() ? WINHTTP_ACCESS_TYPE_NO_PROXY : WINHTTP_ACCESS_TYPE_NAMED_PROXY,
            proxy.empty() ? WINHTTP_NO_PROXY_NAME : proxy.c_str(), WINHTTP_NO_PROXY_BYPASS, 0));
        if (!session_->Get()) Fail("WinHttpOpen");
        if (!WinHttpSetTimeouts(session_->Get(), static_cast<int>(settings.connectTimeoutMs),
                                static_cast<int>(settings.connectTimeoutMs),
                                static_cast<int>(settings.sendTimeoutMs),
                                static_cast<int>(settings.receiveTimeoutMs)))
            Fail("WinHttpSetTimeouts");
        std::string host = settings.host;
        if (host.size() > 2 && host.front() == '[') host = host.substr(1, host.size() - 2);
        connection_ = std::make_unique<THandle>(
            WinHttpConnect(session_->Get(), Wide(host).c_str(), settings.port, 0));
        if (!connection_->Get()) Fail("WinHttpConnect");
        if (!settings.caFile.empty()) caCerts_ = ReadPem(settings.caFile);
    }

    void Exchange(const std::string& path, TBodySource* body, TBodySink& sink,
                  const TProgress& progress) override {
        const bool secure = settings_.scheme == "https";
        const bool ownCheck = secure && (!settings_.pinSha256.empty() || !settings_.caFile.empty());
        THandle request(WinHttpOpenRequest(connection_->Get(), body ? L"POST" : L"GET",
                                           Wide(settings_.prefix + path).c_str(), nullptr,
                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                           secure ? WINHTTP_FLAG_SECURE : 0));
        if (!request.Get()) Fail("WinHttpOpenRequest");
        // The wait for the reply's status and headers has a timeout of its
        // own, apart from WinHttpSetTimeouts' receive timeout.
        DWORD waitMs = settings_.receiveTimeoutMs;
        if (!WinHttpSetOption(request.Get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &waitMs,
                              sizeof waitMs))
            Fail("WinHttpSetOption");
        // No redirect is followed (as with libcurl): a 3xx is the reply, so
        // that no pin or CA-file check is stepped around by another host.
        DWORD redirects = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
        if (!WinHttpSetOption(request.Get(), WINHTTP_OPTION_REDIRECT_POLICY, &redirects,
                              sizeof redirects))
            Fail("WinHttpSetOption");
        if (ownCheck) {
            // The chain and the name are checked here (Wine does not match
            // an IP address); WinHTTP keeps the dates and the usage. A pin
            // replaces every check of the certificate.
            DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID;
            if (!settings_.pinSha256.empty())
                flags |= SECURITY_FLAG_IGNORE_CERT_DATE_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
            if (!WinHttpSetOption(request.Get(), WINHTTP_OPTION_SECURITY_FLAGS, &flags,
                                  sizeof flags))
                Fail("WinHttpSetOption");
        }

        const uint64_t total = body ? body->Size() : 0;
        if (total > 0xFFFFFFFFull)
            throw ETransportError(TNetFault::Other, "request body over 4 GiB");
        const wchar_t* headers = body ? L"Content-Type: application/octet-stream\r\n" : nullptr;
        if (!WinHttpSendRequest(request.Get(), headers ? headers : WINHTTP_NO_ADDITIONAL_HEADERS,
                                headers ? static_cast<DWORD>(-1L) : 0, WINHTTP_NO_REQUEST_DATA, 0,
                                static_cast<DWORD>(total), 0))
            Fail("WinHttpSendRequest");
        if (ownCheck) CheckServerCertificate(request.Get());

        std::vector<uint8_t> buffer(kPiece);
        uint64_t sent = 0;
        if (progress) progress(0, total, 0, -1);
        while (sent < total) {
            const size_t n = body->Read(buffer.data(), buffer.size());
            if (n == 0) throw ETransportError(TNetFault::Aborted, "request body ended early");
            DWORD written = 0;
            if (!WinHttpWriteData(request.Get(), buffer.data(), static_cast<DWORD>(n), &written))
                Fail("WinHttpWriteData");
            sent += written;
            if (progress) progress(sent, total, 0, -1);
        }
        if (!WinHttpReceiveResponse(request.Get(), nullptr)) Fail("WinHttpReceiveResponse");

        DWORD status = 0, size = sizeof status;
        if (!WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                 WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                                 WINHTTP_NO_HEADER_INDEX))
            Fail("WinHttpQueryHeaders");
        const int64_t length = ContentLength(request.Get());
        if (!sink.Begin(static_cast<int>(status), length))
            throw ETransportError(TNetFault::Aborted, "reply refused");

        uint64_t received = 0;
        for (;;) {
            DWORD read = 0;
            if (!WinHttpReadData(request.Get(), buffer.data(), kPiece, &read)) {
                const DWORD error = GetLastError();
                if (length >= 0 && received < static_cast<uint64_t>(length) &&
                    FaultOf(error) == TNetFault::Broken)
                    throw ETransportError(TNetFault::Truncated,
                                          Format("WinHttpReadData: WinHTTP error %lu",
                                                 static_cast<unsigned long>(error)));
                Fail("WinHttpReadData", error);
            }
            if (read == 0) break;
            if (!sink.Write(buffer.data(), read))
                throw ETransportError(TNetFault::Aborted, "reply refused");
            received += read;
            if (progress) progress(total, total, received, length);
        }
        if (length >= 0 && received != static_cast<uint64_t>(length))
            throw ETransportError(TNetFault::Truncated,
                                  Format("%llu of %lld bytes received",
                                         static_cast<unsigned long long>(received),
                                         static_cast<long long>(length)));
    }

  private:
    static int64_t ContentLength(HINTERNET request) {
        wchar_t text[32];
        DWORD size = sizeof text;
        if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                                 text, &size, WINHTTP_NO_HEADER_INDEX))
            return -1;
        int64_t value = 0;
        for (const wchar_t* p = text; *p; ++p) {
            if (*p < L'0' || *p > L'9' || value > (INT64_MAX - 9) / 10) return -1;
            value = value * 10 + (*p - L'0');
        }
        return value;
    }

    void CheckServerCertificate(HINTERNET request) const {
        TCert cert;
        DWORD size = sizeof(PCCERT_CONTEXT);
        if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, cert.Receive(), &size) ||
            !cert.Get())
            throw ETransportError(TNetFault::Tls, "no server certificate");
        if (!settings_.pinSha256.empty()) {
            if (KeyHash(cert.Get()) != settings_.pinSha256)
                throw ETransportError(TNetFault::Pinned, "the server's public key is not the pinned one");
            return;
        }
        if (!NamesHost(cert.Get()))
            throw ETransportError(TNetFault::Tls, "the server certificate is not for " + settings_.host);
        for (const std::vector<BYTE>& der : caCerts_) {
            TCert ca(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(),
                                                  static_cast<DWORD>(der.size())));
            if (!ca.Get()) continue;
            if (CertCompareCertificate(X509_ASN_ENCODING, ca.Get()->pCertInfo, cert.Get()->pCertInfo))
                return;
            if (CryptVerifyCertificateSignatureEx(
                    0, X509_ASN_ENCODING, CRYPT_VERIFY_CERT_SIGN_SUBJECT_CERT,
                    const_cast<CERT_CONTEXT*>(cert.Get()), CRYPT_VERIFY_CERT_SIGN_ISSUER_CERT,
                    const_cast<CERT_CONTEXT*>(ca.Get()), 0, nullptr))
                return;
        }
        throw ETransportError(TNetFault::Tls, "the server certificate is not signed by the CA file");
    }

    // The certificate's subject alternative names (or common name) against
    // the URL's host.
    bool NamesHost(PCCERT_CONTEXT cert) const {
        std::vector<std::string> dns, ips;
        const CERT_INFO* info = cert->pCertInfo;
        PCERT_EXTENSION ext =
            CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
        if (ext) {
            CERT_ALT_NAME_INFO* names = nullptr;
            DWORD size = 0;
            if (CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, ext->Value.pbData,
                                    ext->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names,
                                    &size)) {
                for (DWORD i = 0; i < names->cAltEntry; ++i) {
                    const CERT_ALT_NAME_ENTRY& e = names->rgAltEntry[i];
                    if (e.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME && e.pwszDNSName)
                        dns.push_back(WideToAnsi(reinterpret_cast<const char16_t*>(e.pwszDNSName)));
                    else if (e.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS)
                        ips.emplace_back(reinterpret_cast<const char*>(e.IPAddress.pbData),
                                         e.IPAddress.cbData);
                }
                LocalFree(names);
            }
        }
        char common[256] = "";
        CertGetNameStringA(cert, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME),
                           common, sizeof common);
        return CertificateNamesHost(dns, ips, common, settings_.host);
    }

    TTransportSettings settings_;
    std::unique_ptr<THandle> session_;
    std::unique_ptr<THandle> connection_;
    std::vector<std::vector<BYTE>> caCerts_;
};

}  // namespace

std::unique_ptr<TTransport> TTransport::Create(const TTransportSettings& settings) {
    return std::make_unique<TWinHttpTransport>(settings);
}

}  // namespace nuva::net
