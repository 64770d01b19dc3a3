// The simulated registry and the functions "Advapi32.dll" exports for it.
// Registry functions report through their status and leave the last-error code alone.
#include "world.h"

#include <cstring>

namespace sim {

std::string RootName(HKEY root)
{
    if (root == HKEY_LOCAL_MACHINE)
        return "hklm";
    if (root == HKEY_CURRENT_USER)
        return "hkcu";
    if (root == HKEY_CLASSES_ROOT)
        return "hkcr";
    return "";
}

static std::string KeyId(HKEY root, const Path& key)
{
    if (root != nullptr && RootName(root).empty())
        return root->keyId + "\\" + Fold(key);  // an open key as the root
    return RootName(root) + "\\" + Fold(key);
}

static RegistryValue* FindValue(RegistryKey& key, const Path& name)
{
    for (RegistryValue& value : key.values)
        if (Fold(value.name) == Fold(name))
            return &value;
    return nullptr;
}

void AddRegistryKey(HKEY root, const Path& key)
{
    // Every ancestor exists as well.
    Path prefix;
    for (size_t i = 0; i <= key.size(); ++i) {
        if (i == key.size() || key[i] == u'\\')
            TheWorld().registry[KeyId(root, key.substr(0, i))];
    }
}

void SetRegistryValue(HKEY root, const Path& key, const Path& name, DWORD type, const void* data,
                      DWORD bytes)
{
    AddRegistryKey(root, key);
    RegistryKey& k = TheWorld().registry[KeyId(root, key)];
    RegistryValue* value = FindValue(k, name);
    if (value == nullptr) {
        k.values.push_back(RegistryValue{name, type, {}, 0, REG_NONE});
        value = &k.values.back();
    }
    value->type = type;
    const uint8_t* bytesIn = static_cast<const uint8_t*>(data);
    value->data.assign(bytesIn, bytesIn + bytes);
}

void SetRegistryString(HKEY root, const Path& key, const Path& name, const Path& text, DWORD type)
{
    SetRegistryValue(root, key, name, type, text.c_str(),
                     static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
}

void SetRegistryMultiString(HKEY root, const Path& key, const Path& name,
                            const std::vector<Path>& strings)
{
    Path all;
    for (const Path& s : strings) {
        all += s;
        all += u'\0';
    }
    all += u'\0';
    SetRegistryValue(root, key, name, REG_MULTI_SZ, all.data(),
                     static_cast<DWORD>(all.size() * sizeof(WCHAR)));
}

void DeleteRegistryValue(HKEY root, const Path& key, const Path& name)
{
    auto found = TheWorld().registry.find(KeyId(root, key));
    if (found == TheWorld().registry.end())
        return;
    auto& values = found->second.values;
    for (auto it = values.begin(); it != values.end(); ++it)
        if (Fold(it->name) == Fold(name)) {
            values.erase(it);
            return;
        }
}

void DeleteRegistryKey(HKEY root, const Path& key) { TheWorld().registry.erase(KeyId(root, key)); }

void GrowRegistryValueAfterSizeQuery(HKEY root, const Path& key, const Path& name, DWORD bytes)
{
    auto found = TheWorld().registry.find(KeyId(root, key));
    if (found == TheWorld().registry.end())
        return;
    RegistryValue* value = FindValue(found->second, name);
    if (value != nullptr)
        value->growAfterSizeQuery = bytes;
}

void SetEnumValueFailure(HKEY root, const Path& key, DWORD status)
{
    AddRegistryKey(root, key);
    TheWorld().registry[KeyId(root, key)].enumFailure = status;
}

void SetEnumValueFailureAt(HKEY root, const Path& key, DWORD index, DWORD status)
{
    AddRegistryKey(root, key);
    RegistryKey& k = TheWorld().registry[KeyId(root, key)];
    if (status == 0)
        k.enumFailureAt.erase(index);
    else
        k.enumFailureAt[index] = status;
}

void RetypeRegistryValueAfterSizeQuery(HKEY root, const Path& key, const Path& name, DWORD type)
{
    auto found = TheWorld().registry.find(KeyId(root, key));
    if (found == TheWorld().registry.end())
        return;
    RegistryValue* value = FindValue(found->second, name);
    if (value != nullptr)
        value->retypeAfterSizeQuery = type;
}

int OpenRegistryKeys() { return TheWorld().openKeys; }

static RegistryKey* KeyOf(HKEY key)
{
    if (key == nullptr)
        return nullptr;
    std::string id = RootName(key).empty() ? key->keyId : RootName(key) + "\\";
    auto found = TheWorld().registry.find(id);
    return found == TheWorld().registry.end() ? nullptr : &found->second;
}

static LSTATUS WINAPI SimRegOpenKeyExW(HKEY root, LPCWSTR subKey, DWORD, REGSAM access, HKEY* result)
{
    Log("RegOpenKeyExW " + Narrow(subKey) + " " + Hex(access));
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::string id = KeyId(root, subKey == nullptr ? Path() : Path(subKey));
    if (TheWorld().registry.find(id) == TheWorld().registry.end())
        return ERROR_FILE_NOT_FOUND;
    *result = new SimKey{id};
    TheWorld().openKeys++;
    return ERROR_SUCCESS;
}

static LSTATUS WINAPI SimRegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type,
                                          LPBYTE data, LPDWORD size)
{
    Log("RegQueryValueExW " + Narrow(name) + (data == nullptr ? " size" : " data"));
    RegistryKey* k = KeyOf(key);
    if (k == nullptr)
        return ERROR_INVALID_HANDLE;
    if (reserved != nullptr)
        return ERROR_INVALID_PARAMETER;
    RegistryValue* value = FindValue(*k, name == nullptr ? Path() : Path(name));
    if (value == nullptr)
        return ERROR_FILE_NOT_FOUND;
    DWORD bytes = static_cast<DWORD>(value->data.size());
    if (data != nullptr && size == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (type != nullptr)
        *type = value->type;
    if (data == nullptr) {
        if (size != nullptr)
            *size = bytes;
        if (value->growAfterSizeQuery != 0) {
            value->data.resize(value->data.size() + value->growAfterSizeQuery, 0x41);
            value->growAfterSizeQuery = 0;
        }
        if (value->retypeAfterSizeQuery != REG_NONE) {
            value->type = value->retypeAfterSizeQuery;
            value->retypeAfterSizeQuery = REG_NONE;
        }
        return ERROR_SUCCESS;
    }
    if (*size < bytes) {
        *size = bytes;
        return ERROR_MORE_DATA;
    }
    if (bytes != 0)
        std::memcpy(data, value->data.data(), bytes);
    *size = bytes;
    return ERROR_SUCCESS;
}

static LSTATUS WINAPI SimRegEnumValueW(HKEY key, DWORD index, LPWSTR valueName, LPDWORD nameChars,
                                       LPDWORD, LPDWORD type, LPBYTE, LPDWORD)
{
    Log("RegEnumValueW " + std::to_string(index));
    RegistryKey* k = KeyOf(key);
    if (k == nullptr)
        return ERROR_INVALID_HANDLE;
    if (k->enumFailure != 0)
        return static_cast<LSTATUS>(k->enumFailure);
    auto failure = k->enumFailureAt.find(index);
    if (failure != k->enumFailureAt.end())
        return static_cast<LSTATUS>(failure->second);
    if (index >= k->values.size())
        return ERROR_NO_MORE_ITEMS;
    const RegistryValue& value = k->values[index];
    if (valueName == nullptr || nameChars == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (value.name.size() + 1 > *nameChars)
        return ERROR_MORE_DATA;
    std::memcpy(valueName, value.name.c_str(), (value.name.size() + 1) * sizeof(WCHAR));
    *nameChars = static_cast<DWORD>(value.name.size());
    if (type != nullptr)
        *type = value.type;
    return ERROR_SUCCESS;
}

static LSTATUS WINAPI SimRegCloseKey(HKEY key)
{
    Log("RegCloseKey");
    if (key == nullptr || !RootName(key).empty())
        return ERROR_INVALID_HANDLE;
    delete key;
    TheWorld().openKeys--;
    return ERROR_SUCCESS;
}

Exports RegistryExports()
{
    return {
        {"RegOpenKeyExW", AsExport(&SimRegOpenKeyExW)},
        {"RegQueryValueExW", AsExport(&SimRegQueryValueExW)},
        {"RegEnumValueW", AsExport(&SimRegEnumValueW)},
        {"RegCloseKey", AsExport(&SimRegCloseKey)},
    };
}

}  // namespace sim
