#pragma once
// Static message tables. Each window class that handles messages declares its table with
// FW_DECLARE_MESSAGE_MAP() and defines it in its source file:
//
//   FW_BEGIN_MESSAGE_MAP(nPConfig, fw::PropertyPage)
//       FW_ON_BN_CLICKED(1009, &nPConfig::ApplyConfig)
//       FW_ON_CBN_SELCHANGE(1002, &nPConfig::OnNetworkTypeChange)
//       FW_ON_WM_TIMER(&nPConfig::OnPollTimer)
//       FW_ON_WM_ACTIVATE(&nPConfig::OnActivation)
//   FW_END_MESSAGE_MAP()
//
// A message goes to the first matching entry of the class's table, then of its base's, and
// so on. Handler signatures: void() for commands, void(uintptr_t timerId) for the timer,
// void(uint32_t state, fw::Wnd* other, bool minimised) for activation.

#include "framework/Types.h"

#include <cstdint>

namespace fw {

class Wnd;

using MessageThunk = void (*)(Wnd& target, const Message& msg);

struct MessageMapEntry {
    uint32_t message;   // 0 ends the table
    uint16_t code;      // notification code, for WM_COMMAND
    int id;             // control id, for WM_COMMAND
    MessageThunk thunk;
};

struct MessageMap {
    const MessageMap* (*base)();   // the base class's table, or null
    const MessageMapEntry* entries;
};

namespace detail {

template <class F> struct HandlerClass;
template <class T, class R, class... A> struct HandlerClass<R (T::*)(A...)> { using type = T; };

template <auto F> void CommandThunk(Wnd& w, const Message&)
{
    using T = typename HandlerClass<decltype(F)>::type;
    (static_cast<T&>(w).*F)();
}

template <auto F> void TimerThunk(Wnd& w, const Message& m)
{
    using T = typename HandlerClass<decltype(F)>::type;
    (static_cast<T&>(w).*F)(m.wParam);
}

template <auto F> void ActivateThunk(Wnd& w, const Message& m)
{
    using T = typename HandlerClass<decltype(F)>::type;
    (static_cast<T&>(w).*F)(LoWord(m.wParam), reinterpret_cast<Wnd*>(m.lParam), HiWord(m.wParam) != 0);
}

} // namespace detail
} // namespace fw

#define FW_DECLARE_MESSAGE_MAP()                                                       \
public:                                                                                \
    static const ::fw::MessageMap* GetThisMessageMap();                                \
    const ::fw::MessageMap* GetMessageMap() const override;

#define FW_BEGIN_MESSAGE_MAP(theClass, baseClass)                                      \
    const ::fw::MessageMap* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
    const ::fw::MessageMap* theClass::GetThisMessageMap()                              \
    {                                                                                  \
        using TheBaseClass = baseClass;                                                \
        static constexpr ::fw::MessageMapEntry entries[] = {

#define FW_ON_BN_CLICKED(id, handler)                                                  \
    {::fw::WM_COMMAND, ::fw::BN_CLICKED, (id), &::fw::detail::CommandThunk<handler>},
#define FW_ON_CBN_SELCHANGE(id, handler)                                               \
    {::fw::WM_COMMAND, ::fw::CBN_SELCHANGE, (id), &::fw::detail::CommandThunk<handler>},
#define FW_ON_EN_CHANGE(id, handler)                                                   \
    {::fw::WM_COMMAND, ::fw::EN_CHANGE, (id), &::fw::detail::CommandThunk<handler>},
#define FW_ON_WM_TIMER(handler)                                                        \
    {::fw::WM_TIMER, 0, 0, &::fw::detail::TimerThunk<handler>},
#define FW_ON_WM_ACTIVATE(handler)                                                     \
    {::fw::WM_ACTIVATE, 0, 0, &::fw::detail::ActivateThunk<handler>},

#define FW_END_MESSAGE_MAP()                                                           \
            {0, 0, 0, nullptr}};                                                       \
        static constexpr ::fw::MessageMap map{&TheBaseClass::GetThisMessageMap, entries}; \
        return &map;                                                                   \
    }
