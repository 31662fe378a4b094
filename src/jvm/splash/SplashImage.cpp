#include "jvm/splash/SplashImage.h"

#include <windows.h>
// (windows.h first; initguid.h makes this file own the imaging component's GUIDs)
#include <initguid.h>
#include <objbase.h>
#include <wincodec.h>

#include "core/Log.h"
#include "jvm/splash/SplashChoice.h"
#include "win/ComPtr.h"
#include "win/OsVersion.h"

namespace shipkit::jvm {

namespace {

// WICBitmapInterpolationModeHighQualityCubic, known to Windows 10 and later (newer than the
// MinGW headers).
constexpr WICBitmapInterpolationMode kHighQualityCubic = WICBitmapInterpolationMode(4);

// COM for the multithreaded model on this thread, undone when the owner goes. A thread that
// already has another model keeps it; the imaging objects work there too.
class ComScope {
 public:
  ComScope() : hr_(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(hr_)) ::CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  HRESULT hr_;
};

// Initialises the scaler: high-quality cubic on Windows 10 and later, Fant before, and Fant
// again when high-quality cubic fails (older imaging components do not know it).
HRESULT initialiseScaler(IWICBitmapScaler* scaler, IWICBitmapSource* source, UINT width, UINT height) {
  const win::OsVersion os = win::reportedOsVersion();
  WICBitmapInterpolationMode mode = os.major >= 10 ? kHighQualityCubic : WICBitmapInterpolationModeFant;
  HRESULT hr = scaler->Initialize(source, width, height, mode);
  core::logLine(L"interpolation mode %d %d %d %p", int(mode), int(os.major), int(os.minor),
                reinterpret_cast<void*>(std::uintptr_t(std::uint32_t(hr))));
  if (FAILED(hr) && mode != WICBitmapInterpolationModeFant) {
    mode = WICBitmapInterpolationModeFant;
    hr = scaler->Initialize(source, width, height, mode);
    core::logLine(L"interpolation mode %d %d %d %p", int(mode), int(os.major), int(os.minor),
                  reinterpret_cast<void*>(std::uintptr_t(std::uint32_t(hr))));
  }
  return hr;
}

// The bytes written into a memory stream.
std::optional<std::vector<std::uint8_t>> streamBytes(IStream* stream) {
  STATSTG stat{};
  if (FAILED(stream->Stat(&stat, STATFLAG_NONAME)) || stat.cbSize.QuadPart > 0x7fffffff) return std::nullopt;
  std::vector<std::uint8_t> bytes(std::size_t(stat.cbSize.QuadPart));
  LARGE_INTEGER start{};
  if (FAILED(stream->Seek(start, STREAM_SEEK_SET, nullptr))) return std::nullopt;
  ULONG got = 0;
  if (!bytes.empty() &&
      (FAILED(stream->Read(bytes.data(), ULONG(bytes.size()), &got)) || got != bytes.size()))
    return std::nullopt;
  return bytes;
}

std::optional<std::vector<std::uint8_t>> rescaleWithCom(std::span<const std::uint8_t> image, float factor) {
  win::ComPtr<IWICImagingFactory> factory;
  if (FAILED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IWICImagingFactory, factory.putVoid())))
    return std::nullopt;
  win::ComPtr<IWICStream> input;
  if (FAILED(factory->CreateStream(input.put())) ||
      FAILED(input->InitializeFromMemory(const_cast<BYTE*>(image.data()), DWORD(image.size()))))
    return std::nullopt;
  win::ComPtr<IWICBitmapDecoder> decoder;
  win::ComPtr<IWICBitmapFrameDecode> frame;
  if (FAILED(factory->CreateDecoderFromStream(input.get(), nullptr, WICDecodeMetadataCacheOnLoad,
                                              decoder.put())) ||
      FAILED(decoder->GetFrame(0, frame.put())))
    return std::nullopt;

  UINT width = 0, height = 0;
  WICPixelFormatGUID format{};
  if (FAILED(frame->GetSize(&width, &height)) || FAILED(frame->GetPixelFormat(&format))) return std::nullopt;
  const std::optional<ScaledSize> size = rescaledSize(width, height, factor);
  if (!size) {
    core::logError(L"splash image of %d x %d cannot be scaled by %f", int(width), int(height),
                   double(factor));
    return std::nullopt;
  }
  const UINT scaledWidth = size->width;
  const UINT scaledHeight = size->height;
  win::ComPtr<IWICBitmapScaler> scaler;
  if (FAILED(factory->CreateBitmapScaler(scaler.put())) ||
      FAILED(initialiseScaler(scaler.get(), frame.get(), scaledWidth, scaledHeight)))
    return std::nullopt;

  win::ComPtr<IStream> output;
  if (FAILED(::CreateStreamOnHGlobal(nullptr, TRUE, output.put()))) return std::nullopt;
  win::ComPtr<IWICBitmapEncoder> encoder;
  win::ComPtr<IWICBitmapFrameEncode> target;
  if (FAILED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.put())) ||
      FAILED(encoder->Initialize(output.get(), WICBitmapEncoderNoCache)) ||
      FAILED(encoder->CreateNewFrame(target.put(), nullptr)) || FAILED(target->Initialize(nullptr)) ||
      FAILED(target->SetSize(scaledWidth, scaledHeight)) || FAILED(target->SetPixelFormat(&format)) ||
      FAILED(target->WriteSource(scaler.get(), nullptr)) || FAILED(target->Commit()) ||
      FAILED(encoder->Commit()))
    return std::nullopt;
  return streamBytes(output.get());
}

}  // namespace

std::optional<std::vector<std::uint8_t>> rescaleImage(std::span<const std::uint8_t> image, float factor) {
  ComScope com;
  // Every imaging object is released inside, before COM is undone.
  return rescaleWithCom(image, factor);
}

}  // namespace shipkit::jvm
