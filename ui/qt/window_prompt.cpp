#include "ui/qt/window_prompt.h"

#include <QMessageBox>
#include <QThread>

namespace {

constexpr const char* kBoxTitle = "Kelvane";

int ShowBox(QWidget* window, QMessageBox::Icon icon, const char* text,
            QMessageBox::StandardButtons buttons) {
    QMessageBox box(icon, QString::fromLatin1(kBoxTitle), QString::fromUtf8(text), buttons, window);
    box.setTextFormat(Qt::PlainText);  // shown exactly as given
    return box.exec();
}

}  // namespace

WindowPrompt::WindowPrompt(QWidget* window) : QObject(nullptr), m_window(window) {
    moveToThread(window->thread());
}

void WindowPrompt::ShowText(const char* text) {
    OnWindowThread(
        [&] { ShowBox(m_window.data(), QMessageBox::Information, text, QMessageBox::Ok); });
}

bool WindowPrompt::AskYesNo(const char* text) {
    int answer = QMessageBox::No;
    OnWindowThread([&] {
        answer = ShowBox(m_window.data(), QMessageBox::Question, text,
                         QMessageBox::Yes | QMessageBox::No);
    });
    return answer == QMessageBox::Yes;
}

void WindowPrompt::OnWindowThread(const std::function<void()>& box) {
    if (QThread::currentThread() == thread()) {
        box();
        return;
    }
    QMetaObject::invokeMethod(this, box, Qt::BlockingQueuedConnection);
}
