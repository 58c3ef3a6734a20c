#pragma once
// The window as most of its tests start it: created on the stored settings,
// shown, and (unless asked not to) with its port open.

#include "Unitmain.h"
#include "Windowtest.h"

#include <QTest>
#include <memory>

// Null when the window did not show or its port did not open in time.
inline std::unique_ptr<TFrmMain> OpenWindow(bool waitForPort = true) {
    auto frm = std::make_unique<TFrmMain>();
    frm->show();
    if (!QTest::qWaitForWindowExposed(frm.get()))
        return nullptr;
    if (waitForPort && !WaitUntil([&] { return frm->Worker().IsOpen(); }))
        return nullptr;
    return frm;
}
