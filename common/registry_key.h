// A registry key handle that closes itself: opened for one group of reads or writes and
// closed straight after, as both deliverables use their keys.
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
bool ReadNumber(const RegistryKey& key, const wchar_t* name, DWORD* value);

// Writes a 32-bit value as REG_DWORD; a failed write is lost.
void WriteNumber(const RegistryKey& key, const wchar_t* name, DWORD value);
