#pragma once
// The part of the 7-Zip engine's binary interface that Quarn uses (its 7z
// library 7za.dll and its all-format library 7z.dll share it):
// the class and interface ids, and the COM-style interfaces in the engine's
// slot order. Every method uses the engine's calling convention (stdcall on
// 32-bit Windows) and returns an HRESULT: 0 = success, 1 = false / stop.

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <propidl.h>

#include <cstdint>

namespace SevenZipIds {
// The engine's ids share one layout: 23170F69-40C1-278A-0000-000GG0II0000,
// with GG the interface group and II the interface number.
constexpr GUID EngineId(uint8_t group, uint8_t id) {
  return GUID{0x23170F69, 0x40C1, 0x278A, {0x00, 0x00, 0x00, group, 0x00, id, 0x00, 0x00}};
}
// The class of an archive format: 23170F69-40C1-278A-1000-000110FF0000,
// with FF the format's number (7z 0x07, tar 0xEE, gzip 0xEF ...).
constexpr GUID FormatClassId(uint8_t format) {
  return GUID{0x23170F69, 0x40C1, 0x278A, {0x10, 0x00, 0x00, 0x01, 0x10, format, 0x00, 0x00}};
}
}  // namespace SevenZipIds

// Format numbers of the all-format library that Quarn asks for by itself.
constexpr uint8_t kFormatZip = 0x01;
constexpr uint8_t kFormat7z = 0x07;
constexpr uint8_t kFormatTar = 0xEE;

// The 7z format handler class.
constexpr GUID CLSID_CFormat7z = {0x23170F69, 0x40C1, 0x278A, {0x10, 0x00, 0x00, 0x01, 0x10, 0x07, 0x00, 0x00}};

constexpr GUID IID_ISequentialInStream = SevenZipIds::EngineId(0x03, 0x01);
constexpr GUID IID_ISequentialOutStream = SevenZipIds::EngineId(0x03, 0x02);
constexpr GUID IID_IInStream = SevenZipIds::EngineId(0x03, 0x03);
constexpr GUID IID_IOutStream = SevenZipIds::EngineId(0x03, 0x04);
constexpr GUID IID_IStreamGetSize = SevenZipIds::EngineId(0x03, 0x06);
constexpr GUID IID_ICryptoGetTextPassword = SevenZipIds::EngineId(0x05, 0x10);
constexpr GUID IID_ISetProperties = SevenZipIds::EngineId(0x06, 0x03);
constexpr GUID IID_IArchiveOpenCallback = SevenZipIds::EngineId(0x06, 0x10);
constexpr GUID IID_IArchiveExtractCallback = SevenZipIds::EngineId(0x06, 0x20);
constexpr GUID IID_IArchiveOpenVolumeCallback = SevenZipIds::EngineId(0x06, 0x30);
constexpr GUID IID_IInArchive = SevenZipIds::EngineId(0x06, 0x60);
constexpr GUID IID_IArchiveOpenSeq = SevenZipIds::EngineId(0x06, 0x61);
constexpr GUID IID_IOutArchive = SevenZipIds::EngineId(0x06, 0xA0);

// Item property ids read from the engine.
enum : PROPID {
  kpidPath = 3,
  kpidName = 4,
  kpidIsDir = 6,
  kpidSize = 7,
  kpidPackSize = 8,
  kpidAttrib = 9,
  kpidMTime = 12,
  kpidEncrypted = 15,
  kpidMethod = 22,  // of the archive: the methods of its data, with their dictionaries
  kpidOffset = 36,        // of an item: where its header starts; of the archive: where the item offsets count from
  kpidPosixAttrib = 53,   // the Unix mode: type and permission bits
  kpidSymLink = 54,       // a symbolic link's target
  kpidErrorFlags = 71,    // of the archive: what was wrong with it (kErrorFlag...)
  kpidWarningFlags = 72,  // of the archive: what is wrong with it that did not stop the engine (kErrorFlag...)
  kpidHardLink = 90,      // a hard link's target, a path in the archive
};

// Bits of an archive's kpidErrorFlags.
enum : uint32_t {
  kErrorFlagIsNotArc = 1u << 0,
  kErrorFlagHeadersError = 1u << 1,
  kErrorFlagUnexpectedEnd = 1u << 5,
  kErrorFlagUnsupportedMethod = 1u << 7,
  kErrorFlagDataError = 1u << 9,
  kErrorFlagCrcError = 1u << 10,
};

// Extract modes passed to IArchiveExtractCallback::GetStream.
enum : int32_t { kExtractModeExtract = 0, kExtractModeTest = 1, kExtractModeSkip = 2 };

// Operation results passed to IArchiveExtractCallback::SetOperationResult.
enum : int32_t {
  kOpResultOK = 0,
  kOpResultUnsupportedMethod = 1,
  kOpResultDataError = 2,
  kOpResultCRCError = 3,
  kOpResultUnavailable = 4,
  kOpResultUnexpectedEnd = 5,
  kOpResultDataAfterEnd = 6,
  kOpResultIsNotArc = 7,
  kOpResultHeadersError = 8,
  kOpResultWrongPassword = 9,
};

struct ISequentialInStream : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Read(void* data, UINT32 size, UINT32* processedSize) = 0;
};

struct IInStream : public ISequentialInStream {
  virtual HRESULT STDMETHODCALLTYPE Seek(INT64 offset, UINT32 seekOrigin, UINT64* newPosition) = 0;
};

struct IStreamGetSize : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetSize(UINT64* size) = 0;
};

struct ISequentialOutStream : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Write(const void* data, UINT32 size, UINT32* processedSize) = 0;
};

struct IOutStream : public ISequentialOutStream {
  virtual HRESULT STDMETHODCALLTYPE Seek(INT64 offset, UINT32 seekOrigin, UINT64* newPosition) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetSize(UINT64 newSize) = 0;
};

struct ICryptoGetTextPassword : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CryptoGetTextPassword(BSTR* password) = 0;
};

struct IProgress : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetTotal(UINT64 total) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetCompleted(const UINT64* completeValue) = 0;
};

struct IArchiveOpenCallback : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetTotal(const UINT64* files, const UINT64* bytes) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetCompleted(const UINT64* files, const UINT64* bytes) = 0;
};

// Asked by a handler whose archive continues in other files (a spanned zip's
// NAME.z01, NAME.z02 ...): the opened file's name (kpidName), and a stream of
// another file by its name (S_FALSE when there is none).
struct IArchiveOpenVolumeCallback : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetProperty(PROPID propID, PROPVARIANT* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStream(const wchar_t* name, IInStream** inStream) = 0;
};

struct IArchiveExtractCallback : public IProgress {
  virtual HRESULT STDMETHODCALLTYPE GetStream(UINT32 index, ISequentialOutStream** outStream, INT32 askExtractMode) = 0;
  virtual HRESULT STDMETHODCALLTYPE PrepareOperation(INT32 askExtractMode) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetOperationResult(INT32 opRes) = 0;
};

struct IInArchive : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Open(IInStream* stream, const UINT64* maxCheckStartPosition,
                                         IArchiveOpenCallback* openCallback) = 0;
  virtual HRESULT STDMETHODCALLTYPE Close() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNumberOfItems(UINT32* numItems) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetProperty(UINT32 index, PROPID propID, PROPVARIANT* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE Extract(const UINT32* indices, UINT32 numItems, INT32 testMode,
                                            IArchiveExtractCallback* extractCallback) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetArchiveProperty(PROPID propID, PROPVARIANT* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNumberOfProperties(UINT32* numProps) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPropertyInfo(UINT32 index, BSTR* name, PROPID* propID, VARTYPE* varType) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNumberOfArchiveProperties(UINT32* numProps) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetArchivePropertyInfo(UINT32 index, BSTR* name, PROPID* propID,
                                                           VARTYPE* varType) = 0;
};

// A format that can be read as a stream from its start (tar): the archive is
// then read item by item, without seeking, and Extract takes all items.
struct IArchiveOpenSeq : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE OpenSeq(ISequentialInStream* stream) = 0;
};

// Created and held with the archive handler but never called: only its
// IUnknown slots are used (to release it).
struct IOutArchive : public IUnknown {};
struct ISetProperties : public IUnknown {};

// The engine's one export: creates an object of a class and returns the
// asked-for interface.
typedef HRESULT(WINAPI* TCreateObjectFunc)(const GUID* clsID, const GUID* interfaceID, void** outObject);
