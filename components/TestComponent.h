// TestComponent: what the test doubles TestNet and TestCA share. Their
// behaviour comes from the configuration text that Init receives (the
// component's XML element, read by element name); each call is appended to a
// call log; members can be hidden or made to raise. README.md lists the
// elements and the log format.
//
// Threads: one object is called by one thread at a time.
#pragma once

#include <initializer_list>

#include "ComponentSupport.h"

namespace nuva {

// The configuration given to the last Init: element lookups in its text, in
// the system code page.
class TTestConfig {
  public:
    TTestConfig() = default;
    explicit TTestConfig(AnsiString xml) : xml_(std::move(xml)) {}

    // Whether element `name` is present.
    bool Has(const AnsiString& name) const;
    // The unescaped content of element `name`, or `def` when it is absent.
    AnsiString Text(const AnsiString& name, const AnsiString& def = AnsiString()) const;
    // The content as UTF-16 (for messages and strings handed back).
    WideString Wide(const AnsiString& name, const WideString& def = WideString()) const;
    // The position in `choices` of the trimmed content (ASCII case ignored),
    // or `def` when the element is absent. Any other content raises
    // EAutomationError naming the element and the value.
    size_t Choice(const AnsiString& name, std::initializer_list<const char*> choices,
                  size_t def) const;
    // The comma-separated items of the content, trimmed, empty ones dropped.
    std::vector<AnsiString> List(const AnsiString& name) const;
    // The items of List as 16-bit integers (decimal, optional sign); an item
    // that is not one raises EAutomationError.
    std::vector<SHORT> Int16List(const AnsiString& name) const;

  private:
    AnsiString xml_;
};

// The on/off switches: "0", "1", and for Init and TestConn "untouched".
enum TSwitch : size_t { swOff, swOn, swUntouched };

// A test double: member Init (configXml, msg, ok) and the members the
// component adds with AddTestMember, each logged and subject to MISSING and
// RAISE.
class TTestComponent : public TDispatchObject {
  protected:
    // `source` names the component ("TestNet") in its exceptions.
    explicit TTestComponent(const WideString& source);
    // Raises as RAISE_KIND says when RAISE lists "Release" (the object is
    // going: a structured raise only).
    ~TTestComponent() override;

    // Adds a member that runs `run` unless the configuration makes it raise,
    // and logs the call either way.
    void AddTestMember(const char* name, std::vector<TParam> params,
                       std::function<void(TDispatchArgs&)> run);

    const TTestConfig& Config() const { return config_; }
    // Reads every setting of the component's own, so that Init rejects a bad
    // value at once (EAutomationError) instead of at the call that uses it.
    virtual void CheckConfig() const = 0;

    bool Answers(const TMember& member) const override;

    // As TDispatchObject's, but with RAISE_FILL_IN 1 an automation exception
    // leaves EXCEPINFO empty but for pfnDeferredFillIn, which fills in the
    // source, description and scode when the caller calls it; the thread's
    // error info is cleared.
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo,
                                     UINT* argErr) override;

  private:
    // Wraps the member's body with the log line and, when `raiseFirst`, the
    // RAISE check (Init checks after reading its configuration).
    void AddLoggedMember(TMember member, bool raiseFirst);
    void Init(TDispatchArgs& args);
    // Whether the current configuration lists `name` under RAISE.
    bool Raises(const char* name) const;
    // RAISE_KIND: an automation exception, a structured raise with a code
    // of its own, or a null-pointer write (the last two on Windows only).
    enum TRaiseKind : size_t { rkException, rkRaise, rkFault };
    size_t RaiseKind() const;
    [[noreturn]] void Raise() const;
    // A structured exception of `kind` (rkRaise or rkFault): never returns
    // on Windows; does nothing elsewhere.
    void RaiseStructured(size_t kind) const;
    void AppendLog(const WideString& line) const;

    WideString source_;
    TTestConfig config_;
    AnsiString logPath_;
    bool deferFillIn_ = false;  // RAISE_FILL_IN
};

}  // namespace nuva
