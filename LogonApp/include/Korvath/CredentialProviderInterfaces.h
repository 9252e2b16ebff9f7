#pragma once

// The credential-provider framework as LogonUI speaks it: interfaces, enumerations and
// records that mingw-w64's headers do not carry. Written from Microsoft's public interface
// documentation: methods in vtable order, the documented interface identifiers. The
// Kerberos logon messages come from mingw-w64's <ntsecapi.h>, IQueryContinue from
// <shobjidl.h>.

#include <windows.h>
#include <objbase.h>
#include <propidl.h>
#include <shobjidl.h>
#include <propkeydef.h>
#include <ntsecapi.h>

#ifndef __credentialprovider_h__
#define KV_CREDENTIAL_PROVIDER_INTERFACES_DECLARED 1

typedef enum _CREDENTIAL_PROVIDER_USAGE_SCENARIO {
  CPUS_INVALID = 0,
  CPUS_LOGON = 1,
  CPUS_UNLOCK_WORKSTATION = 2,
  CPUS_CHANGE_PASSWORD = 3,
  CPUS_CREDUI = 4,
  CPUS_PLAP = 5,
} CREDENTIAL_PROVIDER_USAGE_SCENARIO;

typedef enum _CREDENTIAL_PROVIDER_FIELD_TYPE {
  CPFT_INVALID = 0,
  CPFT_LARGE_TEXT = 1,
  CPFT_SMALL_TEXT = 2,
  CPFT_COMMAND_LINK = 3,
  CPFT_EDIT_TEXT = 4,
  CPFT_PASSWORD_TEXT = 5,
  CPFT_TILE_IMAGE = 6,
  CPFT_CHECKBOX = 7,
  CPFT_COMBOBOX = 8,
  CPFT_SUBMIT_BUTTON = 9,
} CREDENTIAL_PROVIDER_FIELD_TYPE;

typedef enum _CREDENTIAL_PROVIDER_FIELD_STATE {
  CPFS_HIDDEN = 0,
  CPFS_DISPLAY_IN_SELECTED_TILE = 1,
  CPFS_DISPLAY_IN_DESELECTED_TILE = 2,
  CPFS_DISPLAY_IN_BOTH = 3,
} CREDENTIAL_PROVIDER_FIELD_STATE;

typedef enum _CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE {
  CPFIS_NONE = 0,
  CPFIS_READONLY = 1,
  CPFIS_DISABLED = 2,
  CPFIS_FOCUSED = 3,
} CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE;

typedef enum _CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE {
  CPGSR_NO_CREDENTIAL_NOT_FINISHED = 0,
  CPGSR_NO_CREDENTIAL_FINISHED = 1,
  CPGSR_RETURN_CREDENTIAL_FINISHED = 2,
  CPGSR_RETURN_NO_CREDENTIAL_FINISHED = 3,
} CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE;

typedef enum _CREDENTIAL_PROVIDER_STATUS_ICON {
  CPSI_NONE = 0,
  CPSI_ERROR = 1,
  CPSI_WARNING = 2,
  CPSI_SUCCESS = 3,
} CREDENTIAL_PROVIDER_STATUS_ICON;

typedef enum _CREDENTIAL_PROVIDER_CREDENTIAL_FIELD_OPTIONS {
  CPCFO_NONE = 0,
  CPCFO_ENABLE_PASSWORD_REVEAL = 0x1,
  CPCFO_IS_EMAIL_ADDRESS = 0x2,
  CPCFO_ENABLE_TOUCH_KEYBOARD_AUTO_INVOKE = 0x4,
  CPCFO_NUMBERS_ONLY = 0x8,
  CPCFO_SHOW_ENGLISH_KEYBOARD = 0x10,
} CREDENTIAL_PROVIDER_CREDENTIAL_FIELD_OPTIONS;

typedef enum _CREDENTIAL_PROVIDER_ACCOUNT_OPTIONS {
  CPAO_NONE = 0,
  CPAO_EMPTY_LOCAL = 0x1,
  CPAO_EMPTY_CONNECTED = 0x2,
} CREDENTIAL_PROVIDER_ACCOUNT_OPTIONS;

#define CREDENTIAL_PROVIDER_NO_DEFAULT ((DWORD)-1)

typedef struct _CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR {
  DWORD dwFieldID;
  CREDENTIAL_PROVIDER_FIELD_TYPE cpft;
  LPWSTR pszLabel;
  GUID guidFieldType;
} CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR;

typedef struct _CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION {
  ULONG ulAuthenticationPackage;
  GUID clsidCredentialProvider;
  ULONG cbSerialization;
  byte* rgbSerialization;
} CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION;

interface ICredentialProviderCredential;
interface ICredentialProviderUser;

// {FA6FA76B-66B7-4B11-95F1-86171118E816}
interface ICredentialProviderCredentialEvents : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetFieldState(ICredentialProviderCredential* pcpc, DWORD dwFieldID,
                                                  CREDENTIAL_PROVIDER_FIELD_STATE cpfs) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetFieldInteractiveState(ICredentialProviderCredential* pcpc, DWORD dwFieldID,
                                                             CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE cpfis) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetFieldString(ICredentialProviderCredential* pcpc, DWORD dwFieldID,
                                                   LPCWSTR psz) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetFieldCheckbox(ICredentialProviderCredential* pcpc, DWORD dwFieldID,
                                                     BOOL bChecked, LPCWSTR pszLabel) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetFieldBitmap(ICredentialProviderCredential* pcpc, DWORD dwFieldID,
                                                   HBITMAP hbmp) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetFieldComboBoxSelectedItem(ICredentialProviderCredential* pcpc,
                                                                 DWORD dwFieldID, DWORD dwSelectedItem) = 0;
  virtual HRESULT STDMETHODCALLTYPE DeleteFieldComboBoxItem(ICredentialProviderCredential* pcpc, DWORD dwFieldID,
                                                            DWORD dwItem) = 0;
  virtual HRESULT STDMETHODCALLTYPE AppendFieldComboBoxItem(ICredentialProviderCredential* pcpc, DWORD dwFieldID,
                                                            LPCWSTR pszItem) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetFieldSubmitButton(ICredentialProviderCredential* pcpc, DWORD dwFieldID,
                                                         DWORD dwAdjacentTo) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnCreatingWindow(HWND* phwndOwner) = 0;
};

// {B53C00B6-9922-4B78-B1F4-DDFE774DC39B}
interface ICredentialProviderCredentialEvents2 : public ICredentialProviderCredentialEvents {
  virtual HRESULT STDMETHODCALLTYPE BeginFieldUpdates() = 0;
  virtual HRESULT STDMETHODCALLTYPE EndFieldUpdates() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetFieldOptions(ICredentialProviderCredential* credential, DWORD fieldID,
                                                    CREDENTIAL_PROVIDER_CREDENTIAL_FIELD_OPTIONS options) = 0;
};

// {63913A93-40C1-481A-818D-4072FF8C70CC}
interface ICredentialProviderCredential : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Advise(ICredentialProviderCredentialEvents* pcpce) = 0;
  virtual HRESULT STDMETHODCALLTYPE UnAdvise() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetSelected(BOOL* pbAutoLogon) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDeselected() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetFieldState(DWORD dwFieldID, CREDENTIAL_PROVIDER_FIELD_STATE* pcpfs,
                                                  CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE* pcpfis) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStringValue(DWORD dwFieldID, LPWSTR* ppsz) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBitmapValue(DWORD dwFieldID, HBITMAP* phbmp) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCheckboxValue(DWORD dwFieldID, BOOL* pbChecked, LPWSTR* ppszLabel) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSubmitButtonValue(DWORD dwFieldID, DWORD* pdwAdjacentTo) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetComboBoxValueCount(DWORD dwFieldID, DWORD* pcItems,
                                                          DWORD* pdwSelectedItem) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetComboBoxValueAt(DWORD dwFieldID, DWORD dwItem, LPWSTR* ppszItem) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetStringValue(DWORD dwFieldID, LPCWSTR psz) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetCheckboxValue(DWORD dwFieldID, BOOL bChecked) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetComboBoxSelectedValue(DWORD dwFieldID, DWORD dwSelectedItem) = 0;
  virtual HRESULT STDMETHODCALLTYPE CommandLinkClicked(DWORD dwFieldID) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSerialization(CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE* pcpgsr,
                                                     CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* pcpcs,
                                                     LPWSTR* ppszOptionalStatusText,
                                                     CREDENTIAL_PROVIDER_STATUS_ICON* pcpsiOptionalStatusIcon) = 0;
  virtual HRESULT STDMETHODCALLTYPE ReportResult(NTSTATUS ntsStatus, NTSTATUS ntsSubstatus,
                                                 LPWSTR* ppszOptionalStatusText,
                                                 CREDENTIAL_PROVIDER_STATUS_ICON* pcpsiOptionalStatusIcon) = 0;
};

// {FD672C54-40EA-4D6E-9B49-CFB1A7507BD7}
interface ICredentialProviderCredential2 : public ICredentialProviderCredential {
  virtual HRESULT STDMETHODCALLTYPE GetUserSid(LPWSTR* sid) = 0;
};

// {9090BE5B-502B-41FB-BCCC-0049A6C7254B}
interface IQueryContinueWithStatus : public IQueryContinue {
  virtual HRESULT STDMETHODCALLTYPE SetStatusMessage(LPCWSTR psz) = 0;
};

// {9387928B-AC75-4BF9-8AB2-2B93C4A55290}
interface IConnectableCredentialProviderCredential : public ICredentialProviderCredential {
  virtual HRESULT STDMETHODCALLTYPE Connect(IQueryContinueWithStatus* pqcws) = 0;
  virtual HRESULT STDMETHODCALLTYPE Disconnect() = 0;
};

// {DBC6FB30-C843-49E3-A645-573E6F39446A}
interface ICredentialProviderCredentialWithFieldOptions : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetFieldOptions(DWORD fieldID,
                                                    CREDENTIAL_PROVIDER_CREDENTIAL_FIELD_OPTIONS* options) = 0;
};

// {34201E5A-A787-41A3-A5A4-BD6DCF2A854E}
interface ICredentialProviderEvents : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CredentialsChanged(UINT_PTR upAdviseContext) = 0;
};

// {D27C3481-5A1C-45B2-8AAA-C20EBBE8229E}
interface ICredentialProvider : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetUsageScenario(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus, DWORD dwFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetSerialization(const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* pcpcs) = 0;
  virtual HRESULT STDMETHODCALLTYPE Advise(ICredentialProviderEvents* pcpe, UINT_PTR upAdviseContext) = 0;
  virtual HRESULT STDMETHODCALLTYPE UnAdvise() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetFieldDescriptorCount(DWORD* pdwCount) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetFieldDescriptorAt(DWORD dwIndex,
                                                         CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR** ppcpfd) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCredentialCount(DWORD* pdwCount, DWORD* pdwDefault,
                                                       BOOL* pbAutoLogonWithDefault) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCredentialAt(DWORD dwIndex, ICredentialProviderCredential** ppcpc) = 0;
};

// {A5DA53F9-D475-4080-A120-910C4A739880}
interface ICredentialProviderFilter : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Filter(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus, DWORD dwFlags,
                                           GUID* rgclsidProviders, BOOL* rgbAllow, DWORD cProviders) = 0;
  virtual HRESULT STDMETHODCALLTYPE UpdateRemoteCredential(const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* pcpcsIn,
                                                           CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* pcpcsOut) = 0;
};

// {13793285-3EA6-40FD-B420-15F47DA41FBB}
interface ICredentialProviderUser : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetSid(LPWSTR* sid) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetProviderID(GUID* providerID) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStringValue(REFPROPERTYKEY key, LPWSTR* stringValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) = 0;
};

// {90C119AE-0F18-4520-A1F1-114366A40FE8}
interface ICredentialProviderUserArray : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetProviderFilter(REFGUID guidProviderToFilterTo) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAccountOptions(CREDENTIAL_PROVIDER_ACCOUNT_OPTIONS* credentialProviderAccountOptions) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCount(DWORD* userCount) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAt(DWORD userIndex, ICredentialProviderUser** user) = 0;
};

// {095C1484-1C0C-4388-9C6D-500E61BF84BD}
interface ICredentialProviderSetUserArray : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetUserArray(ICredentialProviderUserArray* users) = 0;
};

// Interface identifiers, usable with __uuidof and IID_PPV_ARGS as well.
#define KV_CP_IID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  inline constexpr IID IID_##name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}; \
  __CRT_UUID_DECL(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)

KV_CP_IID(ICredentialProviderCredentialEvents, 0xfa6fa76b, 0x66b7, 0x4b11, 0x95, 0xf1, 0x86, 0x17, 0x11, 0x18, 0xe8, 0x16)
KV_CP_IID(ICredentialProviderCredentialEvents2, 0xb53c00b6, 0x9922, 0x4b78, 0xb1, 0xf4, 0xdd, 0xfe, 0x77, 0x4d, 0xc3, 0x9b)
KV_CP_IID(ICredentialProviderCredential, 0x63913a93, 0x40c1, 0x481a, 0x81, 0x8d, 0x40, 0x72, 0xff, 0x8c, 0x70, 0xcc)
KV_CP_IID(ICredentialProviderCredential2, 0xfd672c54, 0x40ea, 0x4d6e, 0x9b, 0x49, 0xcf, 0xb1, 0xa7, 0x50, 0x7b, 0xd7)
KV_CP_IID(IQueryContinueWithStatus, 0x9090be5b, 0x502b, 0x41fb, 0xbc, 0xcc, 0x00, 0x49, 0xa6, 0xc7, 0x25, 0x4b)
KV_CP_IID(IConnectableCredentialProviderCredential, 0x9387928b, 0xac75, 0x4bf9, 0x8a, 0xb2, 0x2b, 0x93, 0xc4, 0xa5, 0x52, 0x90)
KV_CP_IID(ICredentialProviderCredentialWithFieldOptions, 0xdbc6fb30, 0xc843, 0x49e3, 0xa6, 0x45, 0x57, 0x3e, 0x6f, 0x39, 0x44, 0x6a)
KV_CP_IID(ICredentialProviderEvents, 0x34201e5a, 0xa787, 0x41a3, 0xa5, 0xa4, 0xbd, 0x6d, 0xcf, 0x2a, 0x85, 0x4e)
KV_CP_IID(ICredentialProvider, 0xd27c3481, 0x5a1c, 0x45b2, 0x8a, 0xaa, 0xc2, 0x0e, 0xbb, 0xe8, 0x22, 0x9e)
KV_CP_IID(ICredentialProviderFilter, 0xa5da53f9, 0xd475, 0x4080, 0xa1, 0x20, 0x91, 0x0c, 0x4a, 0x73, 0x98, 0x80)
KV_CP_IID(ICredentialProviderUser, 0x13793285, 0x3ea6, 0x40fd, 0xb4, 0x20, 0x15, 0xf4, 0x7d, 0xa4, 0x1f, 0xbb)
KV_CP_IID(ICredentialProviderUserArray, 0x90c119ae, 0x0f18, 0x4520, 0xa1, 0xf1, 0x11, 0x43, 0x66, 0xa4, 0x0f, 0xe8)
KV_CP_IID(ICredentialProviderSetUserArray, 0x095c1484, 0x1c0c, 0x4388, 0x9c, 0x6d, 0x50, 0x0e, 0x61, 0xbf, 0x84, 0xbd)
#undef KV_CP_IID

// The account provider of local accounts, as ICredentialProviderUser::GetProviderID names it.
inline constexpr GUID Identity_LocalUserProvider = {
    0xa198529b, 0x730f, 0x4089, {0xb6, 0x46, 0xa1, 0x25, 0x57, 0xf5, 0x66, 0x5e}};

#endif  // __credentialprovider_h__

// The user properties read through ICredentialProviderUser::GetStringValue. Kept in our own
// namespace so that a translation unit may still include <propkey.h>.
namespace Korvath {
namespace CredentialProvider {
inline constexpr PROPERTYKEY PKEY_Identity_UserName = {
    {0xc4322503, 0x78ca, 0x49c6, {0x9a, 0xcc, 0xa6, 0x8e, 0x2a, 0xfd, 0x7b, 0x6b}}, 100};
inline constexpr PROPERTYKEY PKEY_Identity_QualifiedUserName = {
    {0xda520e51, 0xf4e9, 0x4739, {0xac, 0x82, 0x02, 0xe0, 0xa9, 0x5c, 0x90, 0x30}}, 100};
inline constexpr PROPERTYKEY PKEY_Identity_PrimarySid = {
    {0x2b1b801e, 0xc0c1, 0x4987, {0x9e, 0xc5, 0x72, 0xfa, 0x89, 0x81, 0x47, 0x87}}, 100};
inline constexpr PROPERTYKEY PKEY_Identity_ProviderID = {
    {0x74a7de49, 0xfa11, 0x4d3d, {0xa0, 0x06, 0xdb, 0x7e, 0x08, 0x67, 0x59, 0x16}}, 100};
}  // namespace CredentialProvider
}  // namespace Korvath
