// The invokers' own texts, as UTF-16 so that the bytes are exact on every
// build; converted to the system code page where they are used.
#pragma once

namespace nuva::texts {

// "COM组件[" + DLL path + "]没有成功注册!": an operation of an invoker that is
// not ready.
inline constexpr const char16_t kNotRegisteredOpen[] = u"COM组件[";
inline constexpr const char16_t kNotRegisteredClose[] = u"]没有成功注册!";

}  // namespace nuva::texts
