// The window's message boxes, for the engine's worker threads and the dialog
// alike. Every box is shown modally on the window thread; a caller on another
// thread waits until the operator has dismissed it, so a worker that reports
// "Download Completed!!" ends only after the operator has seen it.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>

#include "platform/notify.h"

class WindowPrompt : public QObject, public platform::OperatorPrompt {
    Q_OBJECT

public:
    // The boxes are centred on window and live on its thread.
    explicit WindowPrompt(QWidget* window);

    void ShowText(const char* text) override;
    bool AskYesNo(const char* text) override;

private:
    // Runs box on the window thread and waits for it there.
    void OnWindowThread(const std::function<void()>& box);

    QPointer<QWidget> m_window;
};
