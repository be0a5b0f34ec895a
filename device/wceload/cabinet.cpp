// The cabinet read through the platform's own cabinet library (FDI): the cabinet file through a
// file handle, every file in it into memory, so that nothing reaches the device before the whole
// package has been checked. FDI takes narrow names; it is given a stand-in name that our own
// open callback maps to the cabinet's wide path, so that any path the device has will do.
#include <windows.h>
#include <fcntl.h>
#include <fdi.h>
#include <array>
#include <cstdlib>
#include <cstring>
#include "package.h"

namespace {

// No package of this device comes near it; a cabinet that claims more is refused, not obeyed.
constexpr ULONG MaxFileBytes = 16u << 20;

struct Stream {
    HANDLE file = INVALID_HANDLE_VALUE; // the cabinet
    Bytes* memory = nullptr;            // a file coming out of it
    ULONG expected = 0;                 // its size, as the cabinet gives it
    bool used = false;
};
std::array<Stream, 8> Streams;

// The name FDI knows the cabinet by, and the path it stands for.
constexpr char CabinetStandIn[] = "cabinet";
std::wstring CabinetPath;

Stream* StreamOf(INT_PTR handle) {
    if (handle < 1 || handle > static_cast<INT_PTR>(Streams.size()) || !Streams[handle - 1].used)
        return nullptr;
    return &Streams[handle - 1];
}

INT_PTR NewStream(HANDLE file, Bytes* memory, ULONG expected = 0) {
    for (size_t i = 0; i < Streams.size(); ++i) {
        if (!Streams[i].used) {
            Streams[i] = {file, memory, expected, true};
            return static_cast<INT_PTR>(i + 1);
        }
    }
    return -1;
}

FNALLOC(Allocate) {
    return std::malloc(cb);
}
FNFREE(Free) {
    std::free(pv);
}

// FDI opens only the cabinet itself, for reading.
FNOPEN(Open) {
    (void)pmode;
    if ((oflag & (_O_WRONLY | _O_RDWR | _O_CREAT)) != 0 || std::strcmp(pszFile, CabinetStandIn))
        return -1;
    HANDLE file = CreateFileW(CabinetPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    const INT_PTR handle = NewStream(file, nullptr);
    if (handle == -1)
        CloseHandle(file);
    return handle;
}

FNREAD(Read) {
    Stream* stream = StreamOf(hf);
    DWORD got = 0;
    if (!stream || stream->memory || !ReadFile(stream->file, pv, cb, &got, nullptr))
        return static_cast<UINT>(-1);
    return got;
}

FNWRITE(Write) {
    Stream* stream = StreamOf(hf);
    if (!stream || !stream->memory || stream->memory->size() + cb > MaxFileBytes)
        return static_cast<UINT>(-1);
    const auto* bytes = static_cast<const unsigned char*>(pv);
    stream->memory->insert(stream->memory->end(), bytes, bytes + cb);
    return cb;
}

FNCLOSE(Close) {
    Stream* stream = StreamOf(hf);
    if (!stream)
        return -1;
    if (stream->file != INVALID_HANDLE_VALUE)
        CloseHandle(stream->file);
    *stream = Stream{};
    return 0;
}

FNSEEK(Seek) {
    Stream* stream = StreamOf(hf);
    if (!stream || stream->memory)
        return -1;
    const DWORD method = seektype == SEEK_CUR   ? FILE_CURRENT
                         : seektype == SEEK_END ? FILE_END
                                                : FILE_BEGIN;
    const DWORD at = SetFilePointer(stream->file, dist, nullptr, method);
    return at == INVALID_SET_FILE_POINTER ? -1 : static_cast<__LONG32>(at);
}

struct Extraction {
    Cabinet* cabinet;
    std::wstring error;
};

// "NAME.NNN": the number of its three-digit extension, or false for any other name.
bool FileNumber(const char* name, unsigned* number) {
    const char* dot = std::strrchr(name, '.');
    if (!dot || std::strlen(dot) != 4)
        return false;
    unsigned value = 0;
    for (const char* p = dot + 1; *p; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        value = value * 10 + (*p - '0');
    }
    *number = value;
    return true;
}

FNFDINOTIFY(Notify) {
    auto* extraction = static_cast<Extraction*>(pfdin->pv);
    switch (fdint) {
    case fdintCOPY_FILE: {
        unsigned number;
        // Files of other names are none of the installation's business.
        if (!FileNumber(pfdin->psz1, &number))
            return 0;
        if (pfdin->cb < 0 || static_cast<ULONG>(pfdin->cb) > MaxFileBytes) {
            extraction->error = L"a file in it is larger than any package's";
            return -1;
        }
        auto placed = extraction->cabinet->files.emplace(number, Bytes());
        if (!placed.second) {
            extraction->error = L"two files in it have the number " + std::to_wstring(number);
            return -1;
        }
        placed.first->second.reserve(pfdin->cb);
        return NewStream(INVALID_HANDLE_VALUE, &placed.first->second, pfdin->cb);
    }
    case fdintCLOSE_FILE_INFO: {
        // A cabinet cut short may still end a file: it must have all its bytes.
        const Stream* stream = StreamOf(pfdin->hf);
        const bool whole = stream && stream->memory->size() == stream->expected;
        Close(pfdin->hf);
        if (!whole) {
            extraction->error = L"a file in it is cut short";
            return -1;
        }
        return TRUE;
    }
    case fdintNEXT_CABINET:
        extraction->error = L"it continues in another cabinet";
        return -1;
    default:
        return 0;
    }
}

struct FdiGuard {
    HFDI fdi;
    ~FdiGuard() {
        if (fdi)
            FDIDestroy(fdi);
        for (auto& stream : Streams) {
            if (stream.used && stream.file != INVALID_HANDLE_VALUE)
                CloseHandle(stream.file);
            stream = Stream{};
        }
    }
};

} // namespace

bool ReadCabinet(const std::wstring& path, Cabinet* cabinet, std::wstring* error) {
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        *error = L"no such file";
        return false;
    }
    CabinetPath = path;
    char folder[] = "";
    char name[sizeof CabinetStandIn];
    std::memcpy(name, CabinetStandIn, sizeof name);

    ERF erf = {};
    FdiGuard guard{FDICreate(Allocate, Free, Open, Read, Write, Close, Seek, cpuUNKNOWN, &erf)};
    if (!guard.fdi) {
        *error = L"the cabinet library could not be started";
        return false;
    }
    const INT_PTR probe = Open(name, _O_RDONLY, 0);
    FDICABINETINFO info = {};
    const BOOL isCabinet = probe != -1 && FDIIsCabinet(guard.fdi, probe, &info);
    if (probe != -1)
        Close(probe);
    if (!isCabinet) {
        *error = L"not a cabinet";
        return false;
    }
    Extraction extraction{cabinet, L""};
    if (!FDICopy(guard.fdi, name, folder, 0, Notify, nullptr, &extraction)) {
        *error = extraction.error.empty()
                     ? L"the cabinet is damaged (error " + std::to_wstring(erf.erfOper) + L")"
                     : extraction.error;
        cabinet->files.clear();
        return false;
    }
    return true;
}
