// The whole screen of the device as a PNG file, encoded by the platform's imaging component.
#include <windows.h>
#include <wincodec.h>
#include "commands.h"
#include "output.h"

namespace {

// A COM interface of ours, released when the guard goes.
template <class Interface> class Held {
  public:
    Held() = default;
    ~Held() {
        if (pointer_)
            pointer_->Release();
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    Interface** Out() { return &pointer_; }
    Interface* operator->() const { return pointer_; }
    operator Interface*() const { return pointer_; }

  private:
    Interface* pointer_ = nullptr;
};

class ComApartment {
  public:
    ComApartment() : ok_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComApartment() {
        if (ok_)
            CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

  private:
    bool ok_;
};

// The screen in a 24-bit top-down DIB section: the screen's own colours, byte for byte.
class ScreenCopy {
  public:
    ScreenCopy() {
        RECT screen;
        GetWindowRect(GetDesktopWindow(), &screen);
        width_ = screen.right - screen.left;
        height_ = screen.bottom - screen.top;
        HDC source = GetDC(nullptr);
        memory_ = CreateCompatibleDC(source);
        BITMAPINFO info = {};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), width_, -height_, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
        bitmap_ = CreateDIBSection(memory_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
        if (bitmap_) {
            HGDIOBJ old = SelectObject(memory_, bitmap_);
            BitBlt(memory_, 0, 0, width_, height_, source, 0, 0, SRCCOPY);
            GdiFlush();
            SelectObject(memory_, old);
        }
        ReleaseDC(nullptr, source);
    }
    ~ScreenCopy() {
        if (bitmap_)
            DeleteObject(bitmap_);
        DeleteDC(memory_);
    }
    ScreenCopy(const ScreenCopy&) = delete;
    ScreenCopy& operator=(const ScreenCopy&) = delete;

    int Width() const { return width_; }
    int Height() const { return height_; }
    // DIB rows are padded to 4 bytes.
    UINT Stride() const { return (static_cast<UINT>(width_) * 3 + 3) & ~3u; }
    BYTE* Bits() const { return bitmap_ ? static_cast<BYTE*>(bits_) : nullptr; }

  private:
    int width_ = 0, height_ = 0;
    HDC memory_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    void* bits_ = nullptr;
};

bool WritePng(const wchar_t* path, const ScreenCopy& screen) {
    Held<IWICImagingFactory> factory;
    Held<IWICStream> stream;
    Held<IWICBitmapEncoder> encoder;
    Held<IWICBitmapFrameEncode> frame;
    Held<IPropertyBag2> options;
    if (!screen.Bits() ||
        FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IWICImagingFactory, reinterpret_cast<void**>(factory.Out()))) ||
        FAILED(factory->CreateStream(stream.Out())) ||
        FAILED(stream->InitializeFromFilename(path, GENERIC_WRITE)) ||
        FAILED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.Out())) ||
        FAILED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) ||
        FAILED(encoder->CreateNewFrame(frame.Out(), options.Out())) ||
        FAILED(frame->Initialize(options)) ||
        FAILED(
            frame->SetSize(static_cast<UINT>(screen.Width()), static_cast<UINT>(screen.Height()))))
        return false;
    // Asked for 8-bit RGB, the encoder may answer with another format it prefers: not ours.
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (FAILED(frame->SetPixelFormat(&format)) || !IsEqualGUID(format, GUID_WICPixelFormat24bppBGR))
        return false;
    const UINT size = screen.Stride() * static_cast<UINT>(screen.Height());
    return SUCCEEDED(frame->WritePixels(static_cast<UINT>(screen.Height()), screen.Stride(), size,
                                        screen.Bits())) &&
           SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
}

} // namespace

DWORD ScreenHash() {
    ScreenCopy screen;
    const BYTE* bits = screen.Bits();
    DWORD hash = 2166136261u; // FNV-1a
    for (UINT i = 0; bits && i < screen.Stride() * static_cast<UINT>(screen.Height()); ++i)
        hash = (hash ^ bits[i]) * 16777619u;
    return hash;
}

bool WriteScreenshot(const wchar_t* path, int* width, int* height) {
    ComApartment com;
    ScreenCopy screen;
    *width = screen.Width();
    *height = screen.Height();
    return WritePng(path, screen);
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
