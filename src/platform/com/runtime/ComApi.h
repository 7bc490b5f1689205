// The POSIX COM runtime: the subset of the Windows COM and OLE Automation API
// that the system, its components and its tests use, with the Windows names,
// types, constants, GUIDs and interface method orders, so that one source
// serves both builds. It lives in one shared library (libnuvacomrt.so) that
// the library, every component and every test program link, so that all of
// them share one registry, one set of loaded modules and one error-info slot
// per thread.
//
// What it is, and where it differs from Windows:
// - Registry: only HKEY_CLASSES_ROOT, kept in memory and gone when the
//   process ends. Key and value names are compared case-insensitively for
//   ASCII letters only (Windows also folds other scripts' letters, such as
//   full-width Latin); a double-byte GBK character is one unit, so its trail
//   byte is neither folded nor taken for the '\' that separates key names.
//   Values are REG_SZ (and any other type stored as bytes, exactly as given:
//   no terminator is added). RegDeleteKeyA refuses a key that has subkeys
//   (ERROR_ACCESS_DENIED), as Windows does; a handle to a deleted key fails
//   with ERROR_KEY_DELETED, even when a key of the same name is created again.
// - BSTR: UTF-16 code units after a 4-byte byte-length prefix, NUL
//   terminated; embedded NULs survive. A null BSTR is the empty string.
// - VARIANT: the layout of Windows; VariantClear frees VT_BSTR, releases
//   VT_UNKNOWN and VT_DISPATCH, and leaves VT_BYREF values alone. It accepts
//   the scalar types Windows accepts and answers DISP_E_BADVARTYPE for the
//   rest, including arrays and records (which Windows frees; nothing here
//   makes them).
// - Interfaces: abstract classes whose virtual functions are in the Windows
//   order, so the vtable slots match; no calling-convention decoration.
// - Activation: CLSIDFromProgID reads ProgID\Clsid; CoCreateInstance reads
//   CLSID\{...}\InprocServer32, loads that file, asks its DllGetClassObject
//   for the class factory and creates one object (in-process only; the
//   context flags are accepted and otherwise ignored; a loaded server stays
//   loaded until the process ends). Failures: REGDB_E_CLASSNOTREG without a
//   server path, HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) when the server does
//   not load, CO_E_ERRORINDLL when it has no DllGetClassObject, else what the
//   server answers. No apartments: CoInitialize and friends succeed and do
//   nothing.
// - CLSIDFromString: the braced form, or else a registered ProgID (as on
//   Windows); a null text is GUID_NULL.
// - Error info: one slot per thread; GetErrorInfo hands it over and clears
//   it, as on Windows. The object CreateErrorInfo makes answers IUnknown,
//   IErrorInfo and ICreateErrorInfo only.
// - LoadLibraryA: a name with a delimiter ('/' or '\') is used as given; a
//   bare name without any '.' gets ".dll" appended and a trailing '.' is
//   dropped (as Windows does), then it is looked for in the executable's
//   directory, the current directory and finally by dlopen's own search; the
//   first directory that holds the file decides, even when the file does not
//   load. Names are in the system code page (GBK) and converted to UTF-8 for
//   the file system. Component files keep their Windows names: an ELF shared
//   object may be called TestNet.dll. There is no GetLastError: a failure is
//   only the null handle.
// - Locales: GetThreadLocale and GetUserDefaultLCID answer 0x0804 (Chinese,
//   PRC), the locale of the target machines.
//
// Threads: every function may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

#define NUVA_COMRT_API __attribute__((visibility("default")))

// ---------------------------------------------------------------------------
// Basic types and result codes
// ---------------------------------------------------------------------------

typedef int32_t HRESULT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef int INT;
typedef unsigned int UINT;
typedef int BOOL;
typedef LONG SCODE;
typedef DWORD LCID;
typedef LONG DISPID;
typedef uint16_t VARTYPE;
typedef int16_t VARIANT_BOOL;
typedef uintptr_t ULONG_PTR;
typedef intptr_t INT_PTR;
typedef char16_t OLECHAR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
typedef OLECHAR* BSTR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef DWORD REGSAM;

#define STDMETHODCALLTYPE
#define STDAPICALLTYPE
#define STDAPI extern "C" HRESULT STDAPICALLTYPE

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define MAKE_HRESULT(sev, fac, code) \
    ((HRESULT)(((uint32_t)(sev) << 31) | ((uint32_t)(fac) << 16) | ((uint32_t)(code))))
#define HRESULT_FROM_WIN32(x) \
    ((HRESULT)(x) <= 0 ? (HRESULT)(x) : (HRESULT)(((uint32_t)(x) & 0x0000FFFF) | 0x80070000u))

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_UNEXPECTED ((HRESULT)0x8000FFFF)
#define E_NOTIMPL ((HRESULT)0x80004001)
#define E_NOINTERFACE ((HRESULT)0x80004002)
#define E_POINTER ((HRESULT)0x80004003)
#define E_ABORT ((HRESULT)0x80004004)
#define E_FAIL ((HRESULT)0x80004005)
#define E_ACCESSDENIED ((HRESULT)0x80070005)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110)
#define CLASS_E_CLASSNOTAVAILABLE ((HRESULT)0x80040111)
#define REGDB_E_READREGDB ((HRESULT)0x80040150)
#define REGDB_E_WRITEREGDB ((HRESULT)0x80040151)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154)
#define SELFREG_E_TYPELIB ((HRESULT)0x80040200)
#define SELFREG_E_CLASS ((HRESULT)0x80040201)
#define CO_E_CLASSSTRING ((HRESULT)0x800401F3)
#define CO_E_ERRORINDLL ((HRESULT)0x800401F9)
#define DISP_E_UNKNOWNINTERFACE ((HRESULT)0x80020001)
#define DISP_E_MEMBERNOTFOUND ((HRESULT)0x80020003)
#define DISP_E_PARAMNOTFOUND ((HRESULT)0x80020004)
#define DISP_E_TYPEMISMATCH ((HRESULT)0x80020005)
#define DISP_E_UNKNOWNNAME ((HRESULT)0x80020006)
#define DISP_E_NONAMEDARGS ((HRESULT)0x80020007)
#define DISP_E_BADVARTYPE ((HRESULT)0x80020008)
#define DISP_E_EXCEPTION ((HRESULT)0x80020009)
#define DISP_E_OVERFLOW ((HRESULT)0x8002000A)
#define DISP_E_BADINDEX ((HRESULT)0x8002000B)
#define DISP_E_BADPARAMCOUNT ((HRESULT)0x8002000E)
#define DISP_E_PARAMNOTOPTIONAL ((HRESULT)0x8002000F)
#define TYPE_E_ELEMENTNOTFOUND ((HRESULT)0x8002802B)
#define TYPE_E_LIBNOTREGISTERED ((HRESULT)0x8002801D)
#define TYPE_E_CANTLOADLIBRARY ((HRESULT)0x80029C4A)

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_MORE_DATA 234L
#define ERROR_KEY_DELETED 1018L

#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)

#define LOCALE_USER_DEFAULT 0x0400
#define LOCALE_SYSTEM_DEFAULT 0x0800

#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_LOCAL_SERVER 0x4
#define COINIT_APARTMENTTHREADED 0x2
#define COINIT_MULTITHREADED 0x0

#define DISPATCH_METHOD 0x1
#define DISPATCH_PROPERTYGET 0x2
#define DISPATCH_PROPERTYPUT 0x4
#define DISPATCH_PROPERTYPUTREF 0x8
#define DISPID_UNKNOWN (-1)
#define DISPID_VALUE 0
#define DISPID_PROPERTYPUT (-3)

// ---------------------------------------------------------------------------
// GUIDs
// ---------------------------------------------------------------------------

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;

inline bool IsEqualGUID(REFGUID a, REFGUID b) {
    const uint8_t* x = reinterpret_cast<const uint8_t*>(&a);
    const uint8_t* y = reinterpret_cast<const uint8_t*>(&b);
    for (size_t i = 0; i < sizeof(GUID); ++i)
        if (x[i] != y[i]) return false;
    return true;
}
inline bool IsEqualIID(REFIID a, REFIID b) { return IsEqualGUID(a, b); }
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }
inline bool operator!=(REFGUID a, REFGUID b) { return !IsEqualGUID(a, b); }

extern "C" {
NUVA_COMRT_API extern const GUID GUID_NULL;
NUVA_COMRT_API extern const IID IID_NULL;
NUVA_COMRT_API extern const IID IID_IUnknown;
NUVA_COMRT_API extern const IID IID_IDispatch;
NUVA_COMRT_API extern const IID IID_IClassFactory;
NUVA_COMRT_API extern const IID IID_IErrorInfo;
NUVA_COMRT_API extern const IID IID_ICreateErrorInfo;
NUVA_COMRT_API extern const IID IID_ISupportErrorInfo;
NUVA_COMRT_API extern const IID IID_IProvideClassInfo;
}

// ---------------------------------------------------------------------------
// BSTR, VARIANT, DISPPARAMS, EXCEPINFO
// ---------------------------------------------------------------------------

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_BYREF = 0x4000,
};

struct IUnknown;
struct IDispatch;

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        int64_t llVal;
        LONG lVal;
        SHORT iVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SHORT* piVal;
        LONG* plVal;
        VARIANT_BOOL* pboolVal;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        VARIANT* pvarVal;
        void* byref;
        struct {
            void* pvRecord;
            void* pRecInfo;
        } record;  // keeps the size of the Windows union (two pointers)
    };
};
typedef VARIANT VARIANTARG;

struct DISPPARAMS {
    VARIANTARG* rgvarg;         // the arguments, last one first
    DISPID* rgdispidNamedArgs;  // named arguments' ids (none in this system)
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    void* pvReserved;
    HRESULT(STDAPICALLTYPE* pfnDeferredFillIn)(EXCEPINFO*);
    SCODE scode;
};

// ---------------------------------------------------------------------------
// Interfaces (Windows method order)
// ---------------------------------------------------------------------------

struct ITypeInfo;  // never implemented here: GetTypeInfo answers E_NOTIMPL

struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;
};

struct IDispatch : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count,
                                                    LCID lcid, DISPID* ids) = 0;
    virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags,
                                             DISPPARAMS* params, VARIANT* result,
                                             EXCEPINFO* excepInfo, UINT* argErr) = 0;
};

struct IClassFactory : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid,
                                                     void** object) = 0;
    virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) = 0;
};

struct IErrorInfo : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetGUID(GUID* guid) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSource(BSTR* source) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDescription(BSTR* description) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* helpFile) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* helpContext) = 0;
};

struct ICreateErrorInfo : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetGUID(REFGUID guid) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR source) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR description) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR helpFile) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD helpContext) = 0;
};

struct ISupportErrorInfo : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) = 0;
};

// Without type information an object answers GetClassInfo with E_NOTIMPL.
struct IProvideClassInfo : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) = 0;
};

// ---------------------------------------------------------------------------
// Registry (HKEY_CLASSES_ROOT only)
// ---------------------------------------------------------------------------

struct HKEY__;
typedef HKEY__* HKEY;
typedef HKEY* PHKEY;

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)((LONG)0x80000000))
#define REG_NONE 0
#define REG_SZ 1
#define REG_OPTION_NON_VOLATILE 0
#define REG_CREATED_NEW_KEY 1
#define REG_OPENED_EXISTING_KEY 2
#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F

// ---------------------------------------------------------------------------
// Modules
// ---------------------------------------------------------------------------

struct HINSTANCE__;
typedef HINSTANCE__* HMODULE;
typedef HMODULE HINSTANCE;
typedef INT_PTR(STDAPICALLTYPE* FARPROC)();

// ---------------------------------------------------------------------------
// Functions
// ---------------------------------------------------------------------------

extern "C" {

NUVA_COMRT_API BSTR SysAllocString(const OLECHAR* text);
NUVA_COMRT_API BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
NUVA_COMRT_API INT SysReAllocString(BSTR* bstr, const OLECHAR* text);
NUVA_COMRT_API void SysFreeString(BSTR bstr);
NUVA_COMRT_API UINT SysStringLen(BSTR bstr);

NUVA_COMRT_API void VariantInit(VARIANT* v);
NUVA_COMRT_API HRESULT VariantClear(VARIANT* v);
// The subset of conversions that script hosts' arguments need: from
// VT_EMPTY, VT_I2, VT_I4, VT_BOOL and VT_BSTR (by value, by reference or in
// a VT_BYREF | VT_VARIANT) to VT_BSTR (decimal digits, VT_BOOL as "-1" or
// "0", VT_EMPTY as "") and to VT_I2 (VT_EMPTY as 0, a string of an optional
// sign and decimal digits between blanks). Anything else is
// DISP_E_TYPEMISMATCH (Windows converts more types, and strings by the
// locale's rules), a value out of range DISP_E_OVERFLOW; `dest` is untouched
// on failure. `flags` is ignored; `dest` may be `src`.
NUVA_COMRT_API HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags,
                                         VARTYPE vt);

NUVA_COMRT_API HRESULT CoInitialize(void* reserved);
NUVA_COMRT_API HRESULT CoInitializeEx(void* reserved, DWORD flags);
NUVA_COMRT_API void CoUninitialize();
NUVA_COMRT_API HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid);
NUVA_COMRT_API INT StringFromGUID2(REFGUID guid, LPOLESTR buffer, INT size);
NUVA_COMRT_API HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid);
NUVA_COMRT_API HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context,
                                        REFIID riid, void** object);

NUVA_COMRT_API HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* info);
NUVA_COMRT_API HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** info);
NUVA_COMRT_API HRESULT CreateErrorInfo(ICreateErrorInfo** info);

NUVA_COMRT_API LCID GetThreadLocale();
NUVA_COMRT_API LCID GetUserDefaultLCID();

NUVA_COMRT_API LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass,
                                    DWORD options, REGSAM sam, void* security, PHKEY result,
                                    DWORD* disposition);
NUVA_COMRT_API LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM sam,
                                  PHKEY result);
NUVA_COMRT_API LONG RegCloseKey(HKEY key);
NUVA_COMRT_API LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type,
                                   const BYTE* data, DWORD size);
NUVA_COMRT_API LONG RegQueryValueExA(HKEY key, LPCSTR valueName, DWORD* reserved, DWORD* type,
                                     BYTE* data, DWORD* size);
NUVA_COMRT_API LONG RegDeleteValueA(HKEY key, LPCSTR valueName);
NUVA_COMRT_API LONG RegDeleteKeyA(HKEY key, LPCSTR subKey);

NUVA_COMRT_API HMODULE LoadLibraryA(LPCSTR fileName);
NUVA_COMRT_API FARPROC GetProcAddress(HMODULE module, LPCSTR name);
NUVA_COMRT_API BOOL FreeLibrary(HMODULE module);

// ---------------------------------------------------------------------------
// Diagnostics, POSIX only (Windows has no such call: never use it in code
// that builds for both)
// ---------------------------------------------------------------------------

// The number of BSTRs allocated (SysAllocString*, SysReAllocString, and the
// strings error info hands out) and not yet freed, in the whole process: a
// test compares it before and after a call to see that every string was
// freed exactly once.
NUVA_COMRT_API ULONG NuvaComLiveBstrCount();

}  // extern "C"
