// The dialog's construction from template 103, its control bindings, the one
// place where signals are wired, and the core's view done with Qt widgets.
#include "ui/qt/downloader_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleFactory>
#include <QThread>

#include "controls/qt/folder_browser.h"
#include "controls/qt/text_progress_ctrl.h"
#include "link/notify.h"
#include "ui/choose_folder.h"
#include "ui/qt/dialog_template.h"
#include "ui/qt/window_prompt.h"
#include "ui/qt/window_pump.h"

using ui::Control;

namespace {

// The window's icon: a white K on blue.
QIcon MakeIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0x1f, 0x4e, 0x9a));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(1, 1, 30, 30), 5, 5);
    QFont font = DialogFont();
    font.setPixelSize(22);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(pixmap.rect(), Qt::AlignCenter, QStringLiteral("K"));
    return QIcon(pixmap);
}

// Finds a control of the template by its object name; a missing one is a
// fault of the template itself.
template <typename T>
void Bind(QObject* dialog, T*& member, const QString& name) {
    member = dialog->findChild<T*>(name, Qt::FindDirectChildrenOnly);
    if (member == nullptr) qFatal("dialog template 103 has no control %s", qPrintable(name));
}

QString FromBytes(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToBytes(const QString& text) {
    return text.toUtf8().toStdString();
}

}  // namespace

DownloaderDialog::DownloaderDialog(DialogServices services, QWidget* parent)
    : QDialog(parent), m_services(std::move(services)) {
    m_hIcon = MakeIcon();
    FillDefaultServices();
    platform::SetOperatorPrompt(m_services.prompt);
    m_core = std::make_unique<ui::DownloaderCore>(*this, *this, std::move(m_services.ports));
    m_core->SetStationCountsSource(std::move(m_services.stationCounts));
    CreateControls();
    BindControls();
    WatchPortEvents();
    WireSignals();
    setWindowIcon(m_hIcon);
    setWindowTitle(QString::fromLatin1(ui::kWindowTitle));
    m_core->OnInitDialog();
}

DownloaderDialog::~DownloaderDialog() {
    m_services.portEvents.reset();  // no event arrives for a dialog being destroyed
    m_core->EndView(m_services.prompt);
}

void DownloaderDialog::FillDefaultServices() {
    if (!m_services.ports) m_services.ports = platform::MakeSystemSerialPortSource();
    if (!m_services.portEvents) m_services.portEvents = platform::MakeSystemPortEventSource();
    if (!m_services.fileDialogs) m_services.fileDialogs = MakeQtImageSetFileDialogs();
    if (m_services.prompt == nullptr) {
        m_ownPrompt = std::make_unique<WindowPrompt>(this);
        m_services.prompt = m_ownPrompt.get();
    }
}

void DownloaderDialog::CreateControls() {
    setFont(DialogFont());
    const QSize base = DialogBaseUnits(font());
    for (const TemplateItem& item : DialogTemplate103())
        CreateControl(item, base, this);
    // Group boxes drawn the classic way, their frame line running through the
    // middle of the title, so the controls sit inside the frame where the
    // template puts them.
    if (QStyle* classic = QStyleFactory::create(QStringLiteral("Windows"))) {
        classic->setParent(this);
        for (QGroupBox* group : findChildren<QGroupBox*>(Qt::FindDirectChildrenOnly))
            group->setStyle(classic);
    }
    setFixedSize(DluToPixels(QRect(0, 0, kTemplateWidth, kTemplateHeight), base).size());
}

void DownloaderDialog::BindControls() {
    for (int c = 0; c < ui::kControlCount; ++c)
        Bind(this, m_controls[c], QLatin1String(ui::ControlName(static_cast<Control>(c))));
    for (int ch = 0; ch < kChannelCount; ++ch) {
        Bind(this, m_portCombo[ch], QStringLiteral("m_portCombo%1").arg(ch));
        Bind(this, m_progress[ch], QStringLiteral("m_progress%1").arg(ch));
    }
}

QWidget* DownloaderDialog::Widget(Control control) const {
    return m_controls[static_cast<int>(control)];
}

// Events arrive on the source's thread and are handled on the window's; one
// still queued when the dialog ends is dropped with it.
void DownloaderDialog::WatchPortEvents() {
    m_services.portEvents->Start([this](const platform::PortEvent& event) {
        QMetaObject::invokeMethod(
            this, [this, event] { m_core->OnDeviceChange(event); }, Qt::QueuedConnection);
    });
}

// Every signal of the dialog is connected here: each button, check box and
// radio to the core's click, each port combo to its channel's handler, and
// the path edits' focus changes through eventFilter.
void DownloaderDialog::WireSignals() {
    ui::DownloaderCore* core = m_core.get();
    for (int c = 0; c < ui::kControlCount; ++c) {
        const auto control = static_cast<Control>(c);
        if (auto* button = qobject_cast<QAbstractButton*>(Widget(control))) {
            connect(button, &QAbstractButton::clicked, this,
                    [core, control] { core->OnClicked(control); });
        }
    }
    // activated, not currentIndexChanged: only the operator's choice counts,
    // never a selection the program makes.
    for (int ch = 0; ch < kChannelCount; ++ch) {
        connect(m_portCombo[ch], &QComboBox::activated, this,
                [core, ch] { core->OnPortSelected(ch); });
    }
    for (int r = 0; r < kRowCount; ++r) {
        const ui::RowControls row = ui::ControlsOf(static_cast<Row>(r));
        Widget(row.path)->installEventFilter(this);
        Widget(row.fullPath)->installEventFilter(this);
    }
}

bool DownloaderDialog::eventFilter(QObject* watched, QEvent* event) {
    const bool in = event->type() == QEvent::FocusIn;
    const bool out = event->type() == QEvent::FocusOut;
    for (int c = 0; (in || out) && c < ui::kControlCount; ++c) {
        if (watched == m_controls[c]) m_core->OnFocusChanged(static_cast<Control>(c), in);
    }
    return QDialog::eventFilter(watched, event);
}

void DownloaderDialog::accept() {
    m_core->OnEnter();  // the dialog ends only through done()
}

void DownloaderDialog::done(int result) {
    if (m_core->OnClose()) QDialog::done(result);
}

void DownloaderDialog::EndDialog() {
    done(QDialog::Rejected);
}

void DownloaderDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        m_core->OnEnter();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);  // Escape rejects
}

intptr_t DownloaderDialog::Send(unsigned message, uintptr_t code, const void* payload) {
    return m_core->HandOff(message, code, payload, *this);
}

bool DownloaderDialog::IsCurrent() const {
    return QThread::currentThread() == thread();
}

void DownloaderDialog::RunBlocking(const std::function<void()>& task) {
    QMetaObject::invokeMethod(this, task, Qt::BlockingQueuedConnection);
}

// A question the services answer (a test's) is theirs; else a Yes/No question
// is the installed prompt's, as the workers' are, and one with Cancel is a box
// of its own.
ui::DialogView::Answer DownloaderDialog::Ask(const std::string& text, bool withCancel) {
    if (m_services.ask) return m_services.ask(text, withCancel);
    if (!withCancel) return m_services.prompt->AskYesNo(text.c_str()) ? Answer::kYes : Answer::kNo;
    QMessageBox box(QMessageBox::Question, QStringLiteral("Kelvane"), FromBytes(text),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
    box.setTextFormat(Qt::PlainText);
    const int answer = box.exec();
    if (answer == QMessageBox::Yes) return Answer::kYes;
    return answer == QMessageBox::No ? Answer::kNo : Answer::kCancel;
}

void DownloaderDialog::RunWithWindowPump(const std::function<void()>& session) {
    {
        ScopedWindowPump pump;
        session();
    }
    update();
}

// The view: each control by the kind of widget the template made for it.

std::string DownloaderDialog::Text(Control control) const {
    QWidget* widget = Widget(control);
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) return ToBytes(edit->text());
    if (auto* label = qobject_cast<QLabel*>(widget)) return ToBytes(label->text());
    if (auto* log = qobject_cast<QPlainTextEdit*>(widget)) return ToBytes(log->toPlainText());
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) return ToBytes(button->text());
    return {};
}

void DownloaderDialog::SetText(Control control, const std::string& text) {
    QWidget* widget = Widget(control);
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        edit->setText(FromBytes(text));
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(FromBytes(text));
    } else if (auto* log = qobject_cast<QPlainTextEdit*>(widget)) {
        QString shown = FromBytes(text);
        shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        log->setPlainText(shown);
        QScrollBar* scroll = log->verticalScrollBar();
        scroll->setValue(scroll->maximum());
    }
}

bool DownloaderDialog::IsChecked(Control control) const {
    auto* button = qobject_cast<QAbstractButton*>(Widget(control));
    return button != nullptr && button->isChecked();
}

void DownloaderDialog::SetChecked(Control control, bool checked) {
    auto* button = qobject_cast<QAbstractButton*>(Widget(control));
    if (button == nullptr) return;
    // Radios are exclusive when clicked; "neither" needs the exclusion lifted
    // for a moment.
    const bool exclusive = button->autoExclusive();
    button->setAutoExclusive(false);
    button->setChecked(checked);
    button->setAutoExclusive(exclusive);
}

void DownloaderDialog::SetEnabled(Control control, bool enabled) {
    Widget(control)->setEnabled(enabled);
}

void DownloaderDialog::SetVisible(Control control, bool visible) {
    Widget(control)->setVisible(visible);
}

void DownloaderDialog::SetFocus(Control control) {
    Widget(control)->setFocus();
}

void DownloaderDialog::SetPortEntries(int channel, int portEntries) {
    QComboBox* combo = m_portCombo[channel];
    combo->clear();
    for (int n = 0; n <= portEntries; ++n)
        combo->addItem(QString::fromStdString(ui::DownloaderCore::PortEntryLabel(n)));
}

int DownloaderDialog::PortSelection(int channel) const {
    return m_portCombo[channel]->currentIndex();
}

void DownloaderDialog::SelectPort(int channel, int entry) {
    m_portCombo[channel]->setCurrentIndex(entry);
}

void DownloaderDialog::SetPortEnabled(int channel, bool enabled) {
    m_portCombo[channel]->setEnabled(enabled);
}

void DownloaderDialog::SetPortToolTip(int channel, const std::string& text) {
    m_portCombo[channel]->setToolTip(FromBytes(text));
}

void DownloaderDialog::SetBarText(int channel, const std::string& text) {
    m_progress[channel]->SetWindowText(FromBytes(text));
}

void DownloaderDialog::SetBarRange(int channel, int lower, int upper) {
    m_progress[channel]->SetRange(lower, upper);
}

void DownloaderDialog::SetBarPos(int channel, int pos) {
    m_progress[channel]->SetPos(pos);
}

void DownloaderDialog::SetBarLook(int channel, BarLook look) {
    static const QColor kPassed(0x2e, 0x9d, 0x3a);
    static const QColor kFailed(0xcc, 0x22, 0x22);
    m_progress[channel]->SetBarColour(look == BarLook::kPassed   ? kPassed
                                      : look == BarLook::kFailed ? kFailed
                                                                 : QColor());
}

std::optional<std::string> DownloaderDialog::ChooseImageSetToLoad(const std::string& initialFile) {
    return m_services.fileDialogs->ChooseToLoad(this, initialFile);
}

std::optional<std::string> DownloaderDialog::ChooseImageSetToSave(const std::string& initialFile) {
    return m_services.fileDialogs->ChooseToSave(this, initialFile);
}

std::optional<std::string> DownloaderDialog::ChooseImageFile(const char* filter,
                                                             const char* defaultSuffix) {
    return m_services.fileDialogs->ChooseImageFile(this, filter, defaultSuffix);
}

std::optional<std::string> DownloaderDialog::ChooseFolder(const char* title,
                                                          const std::string& initialFolder) {
    return ui::ChooseFolderWith<FolderBrowser>(title, initialFolder);
}
