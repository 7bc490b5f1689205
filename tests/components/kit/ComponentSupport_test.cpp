// The component kit's COM boundary: whatever the object's own code throws
// while a call is answered stays inside and becomes a failure code.
#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>

#include "ComponentSupport.h"

namespace nuva {
namespace {

// An object whose Answers() fails as the test says.
class TFailingObject final : public TDispatchObject {
  public:
    TFailingObject() : TDispatchObject(u"Failing") {
        AddMember({"Ping", {}, [](TDispatchArgs&) {}});
    }
    std::function<void()> fail;

  protected:
    bool Answers(const TMember&) const override {
        if (fail) fail();
        return true;
    }
};

TEST(ComponentBoundary, AnErrorInsideGetIDsOfNamesOrInvokeBecomesItsCode) {
    struct {
        const char* what;
        std::function<void()> fail;
        HRESULT code;
    } cases[] = {
        {"none", nullptr, S_OK},
        {"std::bad_alloc", [] { throw std::bad_alloc(); }, E_OUTOFMEMORY},
        {"std::runtime_error", [] { throw std::runtime_error("inside"); }, E_UNEXPECTED},
        {"not a std::exception", [] { throw 42; }, E_UNEXPECTED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto* failing = new TFailingObject;
        TComPtr<IDispatch> object(failing);
        failing->fail = c.fail;
        WideString name = u"Ping";
        LPOLESTR names[1] = {OleText(&name[0])};
        DISPID id = 0;
        HRESULT hr = E_FAIL;
        EXPECT_NO_THROW(hr = object->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
        EXPECT_EQ(hr, c.code);
        EXPECT_EQ(id, c.code == S_OK ? 1 : DISPID_UNKNOWN);
        DISPPARAMS params = {nullptr, nullptr, 0, 0};
        EXPECT_NO_THROW(hr = object->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr,
                                            nullptr, nullptr));
        EXPECT_EQ(hr, c.code);
    }
}

}  // namespace
}  // namespace nuva
