#pragma once

#include "core/Types.h"
#include "framework/win32/WinTypes.h"

class CCmdTarget;

// One entry of a message map: a message (and for WM_COMMAND a notification code and control id)
// and the handler that takes it.
typedef LRESULT (*AFX_PMSG)(CCmdTarget* pTarget, WPARAM wParam, LPARAM lParam);

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;
    UINT nCode;
    UINT nID;
    AFX_PMSG pfn; // null ends the table
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

// The root of everything that has a message map.
class CCmdTarget {
public:
    virtual ~CCmdTarget() = default;

    // Runs the handler of a command (WM_COMMAND with nCode and nID); FALSE when none takes it.
    virtual BOOL OnCmdMsg(UINT nID, int nCode);

    virtual const AFX_MSGMAP* GetMessageMap() const { return GetThisMessageMap(); }

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    // The first entry for a message along this object's map chain, or null.
    const AFX_MSGMAP_ENTRY* FindEntry(UINT nMessage, UINT nCode, UINT nID) const;
};

namespace afx {

template <class> struct MemberOf;
template <class C, class R, class... A> struct MemberOf<R (C::*)(A...)> { using type = C; };

// Adapters from the map's one pointer type to each handler's own signature.
template <auto F> LRESULT Call_v_v(CCmdTarget* p, WPARAM, LPARAM) {
    (static_cast<typename MemberOf<decltype(F)>::type*>(p)->*F)();
    return 0;
}
template <auto F> LRESULT Call_v_ul(CCmdTarget* p, WPARAM w, LPARAM l) {
    (static_cast<typename MemberOf<decltype(F)>::type*>(p)->*F)(static_cast<UINT>(w), l);
    return 0;
}
template <auto F> LRESULT Call_h_v(CCmdTarget* p, WPARAM, LPARAM) {
    return reinterpret_cast<LRESULT>((static_cast<typename MemberOf<decltype(F)>::type*>(p)->*F)());
}

} // namespace afx

#define afx_msg

#define DECLARE_MESSAGE_MAP()                                                                      \
protected:                                                                                         \
    static const AFX_MSGMAP* GetThisMessageMap();                                                  \
                                                                                                   \
public:                                                                                            \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                     \
    const AFX_MSGMAP* theClass::GetMessageMap() const {                                            \
        return GetThisMessageMap();                                                                \
    }                                                                                              \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {                                              \
        typedef theClass ThisClass [[maybe_unused]];                                               \
        typedef baseClass TheBaseClass;                                                            \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {

#define END_MESSAGE_MAP()                                                                          \
    { 0, 0, 0, nullptr }                                                                           \
    }                                                                                              \
    ;                                                                                              \
    static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &_messageEntries[0]};  \
    return &messageMap;                                                                            \
    }

#define ON_WM_SYSCOMMAND() {WM_SYSCOMMAND, 0, 0, &afx::Call_v_ul<&ThisClass::OnSysCommand>},
#define ON_WM_PAINT() {WM_PAINT, 0, 0, &afx::Call_v_v<&ThisClass::OnPaint>},
#define ON_WM_QUERYDRAGICON() {WM_QUERYDRAGICON, 0, 0, &afx::Call_h_v<&ThisClass::OnQueryDragIcon>},
#define ON_COMMAND(id, memberFxn) {WM_COMMAND, 0, (id), &afx::Call_v_v<&ThisClass::memberFxn>},
#define ON_BN_CLICKED(id, memberFxn)                                                               \
    {WM_COMMAND, BN_CLICKED, (id), &afx::Call_v_v<&ThisClass::memberFxn>},
#define ON_EN_SETFOCUS(id, memberFxn)                                                              \
    {WM_COMMAND, EN_SETFOCUS, (id), &afx::Call_v_v<&ThisClass::memberFxn>},
#define ON_LBN_SETFOCUS(id, memberFxn)                                                             \
    {WM_COMMAND, LBN_SETFOCUS, (id), &afx::Call_v_v<&ThisClass::memberFxn>},
