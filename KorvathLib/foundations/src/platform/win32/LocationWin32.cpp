#include <initguid.h>  // defines the Location API's GUIDs in this unit

#include <windows.h>
#include <locationapi.h>

#include <atomic>
#include <mutex>

#include "Korvath/Logger.h"
#include "Korvath/win32/LocationWin32.h"

namespace Korvath {
namespace Geolocation {

namespace {

bool readLatLong(ILocationReport* report, Position& position) {
  if (report == nullptr) return false;
  ILatLongReport* latLong = nullptr;
  if (FAILED(report->QueryInterface(IID_ILatLongReport, reinterpret_cast<void**>(&latLong))) || latLong == nullptr) {
    return false;
  }
  DOUBLE latitude = 0, longitude = 0, radius = -1;
  const bool ok = SUCCEEDED(latLong->GetLatitude(&latitude)) && SUCCEEDED(latLong->GetLongitude(&longitude)) &&
                  SUCCEEDED(latLong->GetErrorRadius(&radius)) && radius >= 0 && latitude >= -90 &&
                  latitude <= 90 && longitude >= -180 && longitude <= 180;
  latLong->Release();
  if (ok) {
    position.latitude = static_cast<float>(latitude);
    position.longitude = static_cast<float>(longitude);
    position.accuracy = static_cast<float>(radius);
  }
  return ok;
}

// Receives the reports that the location platform pushes.
class ReportSink final : public ILocationEvents {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ILocationEvents)) {
      *object = static_cast<ILocationEvents*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE OnLocationChanged(REFIID reportType, ILocationReport* report) override {
    if (!IsEqualIID(reportType, IID_ILatLongReport)) return S_OK;
    Position p;
    if (readLatLong(report, p)) {
      std::lock_guard<std::mutex> lock(mutex_);
      latest_ = p;
      has_ = true;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnStatusChanged(REFIID, LOCATION_REPORT_STATUS) override { return S_OK; }

  bool latest(Position& p) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (has_) p = latest_;
    return has_;
  }

 private:
  virtual ~ReportSink() = default;
  std::atomic<ULONG> refs_{1};
  std::mutex mutex_;
  Position latest_;
  bool has_ = false;
};

class LocationApiSource : public ILocationSource {
 public:
  explicit LocationApiSource(LocationCreator creator) : creator_(creator) {}
  ~LocationApiSource() override { close(); }

  bool open() override {
    const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    comEntered_ = SUCCEEDED(init);
    if (creator_ == nullptr || FAILED(creator_(&location_)) || location_ == nullptr) {
      location_ = nullptr;
      KV_LOG_DEBUG("%s - the location API is not available", "Korvath::Geolocation::LocationApiSource::open");
      close();
      return false;
    }
    sink_ = new ReportSink;
    registered_ = SUCCEEDED(location_->RegisterForReport(sink_, IID_ILatLongReport, 0));
    return true;
  }

  bool latest(Position& position) override {
    if (location_ == nullptr) return false;
    if (sink_ != nullptr && sink_->latest(position)) return true;
    ILocationReport* report = nullptr;
    if (FAILED(location_->GetReport(IID_ILatLongReport, &report)) || report == nullptr) return false;
    const bool ok = readLatLong(report, position);
    report->Release();
    return ok;
  }

  void close() override {
    if (location_ != nullptr) {
      if (registered_) location_->UnregisterForReport(IID_ILatLongReport);
      location_->Release();
      location_ = nullptr;
    }
    registered_ = false;
    if (sink_ != nullptr) {
      sink_->Release();
      sink_ = nullptr;
    }
    if (comEntered_) {
      CoUninitialize();
      comEntered_ = false;
    }
  }

 private:
  LocationCreator creator_;
  ILocation* location_ = nullptr;
  ReportSink* sink_ = nullptr;
  bool registered_ = false;
  bool comEntered_ = false;
};

}  // namespace

HRESULT createSystemLocation(ILocation** location) {
  return CoCreateInstance(CLSID_Location, nullptr, CLSCTX_INPROC_SERVER, IID_ILocation,
                          reinterpret_cast<void**>(location));
}

std::unique_ptr<ILocationSource> createLocationApiSource(LocationCreator creator) {
  return std::unique_ptr<ILocationSource>(new LocationApiSource(creator));
}

std::unique_ptr<ILocationSource> createSystemLocationSource() { return createLocationApiSource(createSystemLocation); }

}  // namespace Geolocation
}  // namespace Korvath
