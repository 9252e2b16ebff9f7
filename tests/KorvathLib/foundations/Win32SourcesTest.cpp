// The Windows sources of remote address and position, driven through stand-ins for
// the event log and Location API, which Wine does not provide.
#include <initguid.h>

#include <windows.h>
#include <locationapi.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Korvath/ConnectionUtils.h"
#include "Korvath/Utils.h"
#include "Korvath/win32/LocationWin32.h"
#include "Korvath/win32/RemoteSessionWin32.h"

using namespace Korvath::Utils::ConnectionUtils;
using namespace Korvath::Geolocation;

namespace {

// ---- event log stand-in -------------------------------------------------------------
struct FakeLog {
  std::wstring xmlByChannel[2];
  int closes = 0, opens = 0;
  bool hugeSize = false;
};
FakeLog* g_log = nullptr;

EVT_HANDLE WINAPI fakeQuery(EVT_HANDLE, LPCWSTR path, LPCWSTR, DWORD) {
  ++g_log->opens;
  const int index = std::wcsstr(path, L"RdpCoreTS") ? 0 : 1;
  return reinterpret_cast<EVT_HANDLE>(static_cast<INT_PTR>(100 + index));
}
BOOL WINAPI fakeNext(EVT_HANDLE results, DWORD, EVT_HANDLE* events, DWORD, DWORD, PDWORD returned) {
  const int index = static_cast<int>(reinterpret_cast<INT_PTR>(results) - 100);
  if (g_log->xmlByChannel[index].empty()) {
    *returned = 0;
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  events[0] = reinterpret_cast<EVT_HANDLE>(static_cast<INT_PTR>(200 + index));
  *returned = 1;
  return TRUE;
}
BOOL WINAPI fakeRender(EVT_HANDLE, EVT_HANDLE event, DWORD, DWORD size, PVOID buffer, PDWORD used, PDWORD) {
  const std::wstring& xml = g_log->xmlByChannel[reinterpret_cast<INT_PTR>(event) - 200];
  const DWORD need = g_log->hugeSize ? 0x7FFFFFFF : static_cast<DWORD>((xml.size() + 1) * sizeof(wchar_t));
  *used = need;
  if (size < need || buffer == nullptr) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(buffer, xml.c_str(), need);
  return TRUE;
}
BOOL WINAPI fakeClose(EVT_HANDLE) {
  ++g_log->closes;
  return TRUE;
}

EventLogApi fakeApi() { return {fakeQuery, fakeNext, fakeRender, fakeClose}; }

}  // namespace

// The connection event first, then the session broker's; every result set and event closed;
// a renderer's absurd size, text that is no address, or no wevtapi at all give no address.
TEST(EventLogSource, ConnectionEventFirstAndBadAnswersIgnored) {
  FakeLog log;
  g_log = &log;
  log.xmlByChannel[0] = L"<Event><EventData><Data Name='ClientIP'>192.0.2.7:50123</Data></EventData></Event>";
  log.xmlByChannel[1] = L"<Event><UserData><EventXML><Param3>198.51.100.4</Param3></EventXML></UserData></Event>";
  const EventLogApi api = fakeApi();
  EXPECT_EQ(addressFromEventLog(api), L"192.0.2.7");
  log.xmlByChannel[0].clear();
  EXPECT_EQ(addressFromEventLog(api), L"198.51.100.4");
  EXPECT_EQ(log.closes, log.opens + 2);
  Win32RemoteAddressSource source(api);
  EXPECT_EQ(getRemoteClientIpAddress(source), L"198.51.100.4");
  log.xmlByChannel[0] = L"<Data Name='ClientIP'>192.0.2.7:1</Data>";
  log.xmlByChannel[1].clear();
  log.hugeSize = true;
  EXPECT_EQ(addressFromEventLog(api), L"");
  log.hugeSize = false;
  log.xmlByChannel[0] = L"<Data Name='ClientIP'>not-an-address</Data>";
  EXPECT_EQ(addressFromEventLog(api), L"");
  EXPECT_EQ(addressFromEventLog(EventLogApi()), L"");
  g_log = nullptr;
}

namespace {

// ---- Location API stand-in ----------------------------------------------------------
template <typename Interface>
class ComBase : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    *out = IsEqualIID(riid, IID_IUnknown) || knows(riid) ? static_cast<Interface*>(this) : nullptr;
    if (*out == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  virtual bool knows(REFIID riid) const = 0;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }  // stack objects in tests
  ULONG refs = 1;
};

class FakeLatLongReport : public ComBase<ILatLongReport> {
 public:
  bool knows(REFIID riid) const override {
    return IsEqualIID(riid, IID_ILocationReport) || IsEqualIID(riid, IID_ILatLongReport);
  }
  HRESULT STDMETHODCALLTYPE GetSensorID(SENSOR_ID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTimestamp(SYSTEMTIME*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY, PROPVARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetLatitude(DOUBLE* v) override { return give(v, latitude); }
  HRESULT STDMETHODCALLTYPE GetLongitude(DOUBLE* v) override { return give(v, longitude); }
  HRESULT STDMETHODCALLTYPE GetErrorRadius(DOUBLE* v) override { return give(v, radius); }
  HRESULT STDMETHODCALLTYPE GetAltitude(DOUBLE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetAltitudeError(DOUBLE*) override { return E_NOTIMPL; }
  static HRESULT give(DOUBLE* out, double value) {
    *out = value;
    return S_OK;
  }
  double latitude = 52.52, longitude = 13.405, radius = 25.0;
};

class FakeLocation : public ComBase<ILocation> {
 public:
  bool knows(REFIID riid) const override { return IsEqualIID(riid, IID_ILocation); }
  HRESULT STDMETHODCALLTYPE RegisterForReport(ILocationEvents* e, REFIID, DWORD) override {
    events = e;
    e->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE UnregisterForReport(REFIID) override {
    if (events) events->Release();
    events = nullptr;
    ++unregistered;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetReport(REFIID, ILocationReport** out) override {
    if (!hasReport) return HRESULT_FROM_WIN32(ERROR_NO_DATA);
    report.AddRef();
    *out = &report;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetReportStatus(REFIID, LOCATION_REPORT_STATUS*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetReportInterval(REFIID, DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetReportInterval(REFIID, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDesiredAccuracy(REFIID, LOCATION_DESIRED_ACCURACY*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetDesiredAccuracy(REFIID, LOCATION_DESIRED_ACCURACY) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RequestPermissions(HWND, IID*, ULONG, WINBOOL) override { return E_NOTIMPL; }

  FakeLatLongReport report;
  bool hasReport = false;
  ILocationEvents* events = nullptr;
  int unregistered = 0;
};

FakeLocation* g_location = nullptr;
HRESULT fakeCreator(ILocation** out) {
  g_location->AddRef();
  *out = g_location;
  return S_OK;
}

}  // namespace

TEST(LocationApiSource, ReportsPushedAndPolled) {
  FakeLocation location;
  g_location = &location;
  auto source = createLocationApiSource(fakeCreator);
  ASSERT_TRUE(source->open());
  ASSERT_NE(location.events, nullptr);
  Position p;
  EXPECT_FALSE(source->latest(p));  // nothing yet
  location.hasReport = true;        // the last known report, first out of range
  location.report.latitude = 123.0;
  EXPECT_FALSE(source->latest(p));
  location.report.latitude = 52.52;
  ASSERT_TRUE(source->latest(p));
  EXPECT_FLOAT_EQ(p.latitude, 52.52f);
  EXPECT_FLOAT_EQ(p.accuracy, 25.0f);
  FakeLatLongReport pushed;
  pushed.latitude = -33.86;
  pushed.longitude = 151.2;
  pushed.radius = 10;
  location.events->OnLocationChanged(IID_ILatLongReport, &pushed);  // a pushed report wins
  ASSERT_TRUE(source->latest(p));
  EXPECT_FLOAT_EQ(p.latitude, -33.86f);
  source->close();
  EXPECT_EQ(location.unregistered, 1);
  EXPECT_EQ(location.refs, 1u);  // every reference given back
  g_location = nullptr;
}

TEST(LocationApiSource, MissingApiMeansNoSource) {
  EXPECT_FALSE(createLocationApiSource([](ILocation**) { return REGDB_E_CLASSNOTREG; })->open());
}
