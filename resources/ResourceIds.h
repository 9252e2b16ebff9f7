#pragma once
// Resource ids of KvCredProv.dll, shared by the resource script and the code.

#define KV_IDI_APP 100

#define KV_IDR_SVG_PUSH 110
#define KV_IDR_SVG_QRCODE 111
#define KV_IDR_SVG_OTP 112
#define KV_IDR_SVG_FORGOT_TOKEN 113
#define KV_IDR_SVG_BACK 114
#define KV_IDR_SVG_BACK_ABOUT 115
#define KV_IDR_SVG_BACK_HOWTO 116
#define KV_IDR_SVG_ABOUT 117
#define KV_IDR_SVG_DIALOG_ARTWORK 118
#define KV_IDR_SVG_BACKGROUND 119
#define KV_IDR_SVG_AUTHENTICATION 120
#define KV_IDR_SVG_LOGO 121

// The manifest that the dialog's activation context is made from (common controls 6).
#define KV_IDR_MANIFEST 2
