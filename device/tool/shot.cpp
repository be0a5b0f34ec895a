// The whole screen of the device as a PNG file (uncompressed deflate: simple and exact).
#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>
#include "commands.h"
#include "output.h"

namespace {

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

void PutBig32(std::vector<uint8_t>* out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out->push_back(static_cast<uint8_t>(value >> shift));
}

void PutChunk(std::vector<uint8_t>* png, const char* type, const std::vector<uint8_t>& data) {
    PutBig32(png, static_cast<uint32_t>(data.size()));
    std::vector<uint8_t> typed(type, type + 4);
    typed.insert(typed.end(), data.begin(), data.end());
    png->insert(png->end(), typed.begin(), typed.end());
    PutBig32(png, Crc32(typed.data(), typed.size()));
}

// A zlib stream of stored blocks.
std::vector<uint8_t> Stored(const std::vector<uint8_t>& raw) {
    std::vector<uint8_t> z = {0x78, 0x01};
    size_t at = 0;
    do {
        size_t n = raw.size() - at < 65535 ? raw.size() - at : 65535;
        z.push_back(at + n == raw.size() ? 1 : 0);
        z.push_back(static_cast<uint8_t>(n));
        z.push_back(static_cast<uint8_t>(n >> 8));
        z.push_back(static_cast<uint8_t>(~n));
        z.push_back(static_cast<uint8_t>(~n >> 8));
        z.insert(z.end(), raw.begin() + at, raw.begin() + at + n);
        at += n;
    } while (at < raw.size());
    uint32_t a = 1, b = 0;
    for (uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    PutBig32(&z, (b << 16) | a);
    return z;
}

// Rows of RGB pixels, top down, each behind a filter byte of 0.
std::vector<uint8_t> CaptureScreen(int* width, int* height) {
    RECT screen;
    GetWindowRect(GetDesktopWindow(), &screen);
    *width = screen.right - screen.left;
    *height = screen.bottom - screen.top;
    HDC source = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(source);
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), *width, -*height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, *width, *height, source, 0, 0, SRCCOPY);
    GdiFlush();
    std::vector<uint8_t> raw;
    raw.reserve(static_cast<size_t>(*height) * (*width * 3 + 1));
    const auto* pixels = static_cast<const uint8_t*>(bits);
    for (int y = 0; y < *height; ++y) {
        raw.push_back(0);
        for (int x = 0; x < *width; ++x) {
            const uint8_t* bgrx = pixels + (static_cast<size_t>(y) * *width + x) * 4;
            raw.insert(raw.end(), {bgrx[2], bgrx[1], bgrx[0]});
        }
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, source);
    return raw;
}

} // namespace

bool WriteScreenshot(const wchar_t* path, int* width, int* height) {
    std::vector<uint8_t> raw = CaptureScreen(width, height);
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    PutBig32(&header, static_cast<uint32_t>(*width));
    PutBig32(&header, static_cast<uint32_t>(*height));
    header.insert(header.end(), {8, 2, 0, 0, 0}); // 8-bit RGB, no interlace
    PutChunk(&png, "IHDR", header);
    PutChunk(&png, "IDAT", Stored(raw));
    PutChunk(&png, "IEND", {});
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    bool ok = file != INVALID_HANDLE_VALUE &&
              WriteFile(file, png.data(), static_cast<DWORD>(png.size()), &written, nullptr) &&
              written == png.size();
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return ok;
}

int ShotCommand(int argc, wchar_t** argv) {
    if (argc != 1) {
        PrintError(L"shot: expected one file name, such as screen.png\n");
        return 2;
    }
    int width = 0, height = 0;
    if (!WriteScreenshot(argv[0], &width, &height)) {
        PrintError(L"shot: cannot write %ls\n", argv[0]);
        return 1;
    }
    Print(L"%ls %dx%d\n", argv[0], width, height);
    return 0;
}
