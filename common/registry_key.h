// A registry key handle that closes itself: opened for one group of reads or writes and
// closed straight after, as the deliverables and the device use their keys.
#pragma once
#include "wince.h"

class RegistryKey {
  public:
    RegistryKey() = default;
    explicit RegistryKey(HKEY key) : key_(key) {}
    RegistryKey(RegistryKey&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }
    RegistryKey& operator=(RegistryKey&& other) noexcept {
        if (this != &other) {
            Close();
            key_ = other.key_;
            other.key_ = nullptr;
        }
        return *this;
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey() { Close(); }

    explicit operator bool() const { return key_ != nullptr; }
    HKEY get() const { return key_; }
    void Close() {
        if (key_)
            RegCloseKey(key_);
        key_ = nullptr;
    }

    // Both leave the guard empty when the key cannot be opened or created.
    static RegistryKey Open(HKEY root, const wchar_t* path, REGSAM access) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(root, path, 0, access, &key) != ERROR_SUCCESS)
            key = nullptr;
        return RegistryKey(key);
    }
    static RegistryKey Create(HKEY root, const wchar_t* path, REGSAM access) {
        HKEY key = nullptr;
        if (RegCreateKeyExW(root, path, 0, nullptr, 0, access, nullptr, &key, nullptr) !=
            ERROR_SUCCESS)
            key = nullptr;
        return RegistryKey(key);
    }

  private:
    HKEY key_ = nullptr;
};

// Reads a 32-bit value into `value`, which holds the default or the caller's current copy and
// keeps it when the value is missing or is not 4 bytes long. Any registry type of 4 bytes is
// taken as a number.
inline bool ReadNumber(const RegistryKey& key, const wchar_t* name, DWORD* value) {
    if (!key)
        return false;
    // Read into a buffer of our own: a value longer or shorter than 4 bytes must not leave
    // part of itself in the caller's copy.
    DWORD data = 0, size = sizeof data, type = 0;
    if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) !=
            ERROR_SUCCESS ||
        size != sizeof data)
        return false;
    *value = data;
    return true;
}

// Writes a 32-bit value as REG_DWORD; false (and the write lost) when it fails.
inline bool WriteNumber(const RegistryKey& key, const wchar_t* name, DWORD value) {
    return key &&
           RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value) == ERROR_SUCCESS;
}
