// Published interface identifiers and property set GUIDs.
#pragma once

#include "mapiwin.h"

// MAPI's identifiers are OLE GUIDs: {l-0000-0000-C000-000000000046}.
#define MAPI_OLEGUID_(l)                 \
    GUID {                               \
        (l), 0, 0, {                     \
            0xC0, 0, 0, 0, 0, 0, 0, 0x46 \
        }                                \
    }

inline constexpr GUID IID_IUnknown = MAPI_OLEGUID_(0x00000000);
inline constexpr GUID IID_IStream = MAPI_OLEGUID_(0x0000000C);
inline constexpr GUID IID_ISequentialStream = {
    0x0C733A30, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
inline constexpr GUID IID_IMAPISession = MAPI_OLEGUID_(0x00020300);
inline constexpr GUID IID_IMAPITable = MAPI_OLEGUID_(0x00020301);
inline constexpr GUID IID_IMAPIAdviseSink = MAPI_OLEGUID_(0x00020302);
inline constexpr GUID IID_IMAPIProp = MAPI_OLEGUID_(0x00020303);
inline constexpr GUID IID_IProfSect = MAPI_OLEGUID_(0x00020304);
inline constexpr GUID IID_IMAPIStatus = MAPI_OLEGUID_(0x00020305);
inline constexpr GUID IID_IMsgStore = MAPI_OLEGUID_(0x00020306);
inline constexpr GUID IID_IMessage = MAPI_OLEGUID_(0x00020307);
inline constexpr GUID IID_IAttachment = MAPI_OLEGUID_(0x00020308);
inline constexpr GUID IID_IAddrBook = MAPI_OLEGUID_(0x00020309);
inline constexpr GUID IID_IMailUser = MAPI_OLEGUID_(0x0002030A);
inline constexpr GUID IID_IMAPIContainer = MAPI_OLEGUID_(0x0002030B);
inline constexpr GUID IID_IMAPIFolder = MAPI_OLEGUID_(0x0002030C);
inline constexpr GUID IID_IMAPIProgress = MAPI_OLEGUID_(0x0002031F);
inline constexpr GUID PS_MAPI = MAPI_OLEGUID_(0x00020328);
inline constexpr GUID PS_PUBLIC_STRINGS = MAPI_OLEGUID_(0x00020329);
inline constexpr GUID PSETID_Appointment = MAPI_OLEGUID_(0x00062002);
inline constexpr GUID PSETID_Task = MAPI_OLEGUID_(0x00062003);
inline constexpr GUID PSETID_Address = MAPI_OLEGUID_(0x00062004);
inline constexpr GUID PSETID_Common = MAPI_OLEGUID_(0x00062008);
inline constexpr GUID PSETID_Log = MAPI_OLEGUID_(0x0006200A);
inline constexpr GUID PS_INTERNET_HEADERS = MAPI_OLEGUID_(0x00020386);
