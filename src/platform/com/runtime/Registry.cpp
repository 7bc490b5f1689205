// The registry: one in-memory tree under HKEY_CLASSES_ROOT for the whole
// process, behind one mutex.
//
// Names are compared through a folded form (ASCII A-Z lowered, a double-byte
// GBK character kept whole), which is the map key; nothing enumerates keys or
// values, so the spelling as written is not kept. A handle is a heap object
// that holds its key node; deleting a key marks the node, so a handle to it
// fails with ERROR_KEY_DELETED instead of reaching a key created later under
// the same name. Every handle given out is remembered, so that a closed or
// made-up handle is answered with ERROR_INVALID_HANDLE rather than followed.
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/com/runtime/RuntimeInternal.h"

namespace nuva::comrt {

struct TValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct TKeyNode {
    bool deleted = false;
    std::weak_ptr<TKeyNode> parent;                            // empty for the root
    std::string foldedName;                                    // its key in the parent
    std::map<std::string, std::shared_ptr<TKeyNode>> subkeys;  // by folded name
    std::map<std::string, TValue> values;                      // by folded name
};

}  // namespace nuva::comrt

struct HKEY__ {
    std::shared_ptr<nuva::comrt::TKeyNode> node;
};

namespace {

using nuva::comrt::TKeyNode;
using nuva::comrt::TValue;
using TNodePtr = std::shared_ptr<TKeyNode>;

struct TRegistry {
    std::mutex mutex;
    TNodePtr root = std::make_shared<TKeyNode>();
    std::set<HKEY> handles;
};

// Never destroyed: components may still close keys while the process exits.
TRegistry& Registry() {
    static TRegistry* registry = new TRegistry;
    return *registry;
}

std::string Fold(const std::string& name) {
    return nuva::AnsiLowerCaseAscii(name);
}

// The folded names of a key path, split at '\'. A '\' that is the trail byte
// of a double-byte character is part of the name. Empty names (doubled or
// trailing separators) are skipped, as Windows skips them.
std::vector<std::string> SplitPath(const char* path) {
    std::vector<std::string> names;
    std::string current;
    for (size_t i = 0; path[i]; ++i) {
        const char c = path[i];
        if (nuva::IsLeadByte(static_cast<unsigned char>(c)) && path[i + 1]) {
            current += c;
            current += path[++i];
        } else if (c == '\\') {
            if (!current.empty()) names.push_back(Fold(current));
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) names.push_back(Fold(current));
    return names;
}

// The node a base handle stands for, or an error code. Call with the mutex
// held.
LONG BaseNode(TRegistry& r, HKEY key, TNodePtr* node) {
    if (key == HKEY_CLASSES_ROOT) {
        *node = r.root;
        return ERROR_SUCCESS;
    }
    if (!key || r.handles.count(key) == 0) return ERROR_INVALID_HANDLE;
    if (key->node->deleted) return ERROR_KEY_DELETED;
    *node = key->node;
    return ERROR_SUCCESS;
}

// Walks the folded `names` down from `node`; null when a key on the way is
// missing.
TNodePtr Find(TNodePtr node, const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        auto it = node->subkeys.find(name);
        if (it == node->subkeys.end()) return nullptr;
        node = it->second;
    }
    return node;
}

LONG NewHandle(TRegistry& r, TNodePtr node, PHKEY result) {
    HKEY handle = new HKEY__{std::move(node)};
    r.handles.insert(handle);
    *result = handle;
    return ERROR_SUCCESS;
}

// A null or empty value name is the default value, whose folded name is "".
std::string ValueKey(LPCSTR valueName) {
    return valueName ? Fold(valueName) : std::string();
}

}  // namespace

extern "C" {

LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM, void*, PHKEY result,
                     DWORD* disposition) {
    if (!subKey || !result) return ERROR_INVALID_PARAMETER;
    // Windows refuses a path that starts at a separator when it creates.
    if (subKey[0] == '\\') return ERROR_BAD_PATHNAME;
    TRegistry& r = Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    TNodePtr node;
    if (LONG error = BaseNode(r, key, &node)) return error;
    bool created = false;
    for (const std::string& name : SplitPath(subKey)) {
        TNodePtr& child = node->subkeys[name];
        if (!child) {
            child = std::make_shared<TKeyNode>();
            child->parent = node;
            child->foldedName = name;
            created = true;
        }
        node = child;
    }
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return NewHandle(r, std::move(node), result);
}

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    TRegistry& r = Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    TNodePtr node;
    if (LONG error = BaseNode(r, key, &node)) return error;
    // A null or empty subkey opens the base key again.
    if (subKey) node = Find(std::move(node), SplitPath(subKey));
    if (!node) return ERROR_FILE_NOT_FOUND;
    return NewHandle(r, std::move(node), result);
}

LONG RegCloseKey(HKEY key) {
    if (key == HKEY_CLASSES_ROOT) return ERROR_SUCCESS;
    TRegistry& r = Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (!key || r.handles.erase(key) == 0) return ERROR_INVALID_HANDLE;
    delete key;
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD size) {
    if (!data && size != 0) return ERROR_INVALID_PARAMETER;
    TRegistry& r = Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    TNodePtr node;
    if (LONG error = BaseNode(r, key, &node)) return error;
    TValue& value = node->values[ValueKey(valueName)];
    value.type = type;
    value.data.assign(data, data + size);
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* size) {
    if (reserved || (data && !size)) return ERROR_INVALID_PARAMETER;
    TRegistry& r = Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    TNodePtr node;
    if (LONG error = BaseNode(r, key, &node)) return error;
    auto it = node->values.find(ValueKey(valueName));
    if (it == node->values.end()) return ERROR_FILE_NOT_FOUND;
    const TValue& value = it->second;
    const DWORD needed = static_cast<DWORD>(value.data.size());
    if (type) *type = value.type;
    if (!data) {
        if (size) *size = needed;
        return ERROR_SUCCESS;
    }
    const DWORD room = *size;
    *size = needed;
    if (room < needed) return ERROR_MORE_DATA;
    if (needed) std::memcpy(data, value.data.data(), needed);
    return ERROR_SUCCESS;
}

LONG RegDeleteValueA(HKEY key, LPCSTR valueName) {
    TRegistry& r = Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    TNodePtr node;
    if (LONG error = BaseNode(r, key, &node)) return error;
    return node->values.erase(ValueKey(valueName)) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LONG RegDeleteKeyA(HKEY key, LPCSTR subKey) {
    if (!subKey) return ERROR_INVALID_PARAMETER;
    if (subKey[0] == '\\') return ERROR_BAD_PATHNAME;
    TRegistry& r = Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    TNodePtr node;
    if (LONG error = BaseNode(r, key, &node)) return error;
    // An empty subkey names the base key itself.
    node = Find(std::move(node), SplitPath(subKey));
    if (!node) return ERROR_FILE_NOT_FOUND;
    TNodePtr parent = node->parent.lock();
    if (!parent || !node->subkeys.empty()) return ERROR_ACCESS_DENIED;
    node->deleted = true;
    parent->subkeys.erase(node->foldedName);
    return ERROR_SUCCESS;
}

}  // extern "C"

namespace nuva::comrt {

bool ReadDefaultValue(const std::string& key, std::string* value) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    std::vector<char> data;
    DWORD size = 0;
    LONG error = RegQueryValueExA(handle, nullptr, nullptr, nullptr, nullptr, &size);
    // The value may grow between the two calls: ask again while it does.
    while (error == ERROR_SUCCESS) {
        data.resize(size + 1);
        error = RegQueryValueExA(handle, nullptr, nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(data.data()), &size);
        if (error != ERROR_MORE_DATA) break;
        error = ERROR_SUCCESS;
    }
    RegCloseKey(handle);
    if (error != ERROR_SUCCESS) return false;
    value->assign(data.data(), strnlen(data.data(), size));
    return true;
}

}  // namespace nuva::comrt
