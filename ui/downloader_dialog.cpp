// The dialog's construction from template 103, its control bindings, the one
// place where signals are wired, initialisation and teardown.
#include "ui/downloader_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSocketNotifier>
#include <QStyle>
#include <QStyleFactory>
#include <algorithm>

#include "config/settings.h"
#include "controls/text_progress_ctrl.h"
#include "engine/session.h"
#include "platform/port_map.h"
#include "ui/address_edits.h"
#include "ui/dialog_template.h"
#include "ui/window_prompt.h"

namespace {

constexpr const char* kWindowTitle = "Unified Kelvane Ver3.0 ";
constexpr const char* kNoPortEntry = "-----------";

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

}  // namespace

DownloaderDialog::DownloaderDialog(DialogServices services, QWidget* parent)
    : QDialog(parent), m_services(std::move(services)) {
    m_statusLog.clear();
    m_hIcon = MakeIcon();
    FillDefaultServices();
    platform::SetOperatorPrompt(m_services.prompt);
    CreateControls();
    BindControls();
    WatchPortEvents();
    WireSignals();
    OnInitDialog();
}

DownloaderDialog::~DownloaderDialog() {
    if (!m_tornDown) TearDown();
    if (platform::GetOperatorPrompt() == m_services.prompt) platform::SetOperatorPrompt(nullptr);
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

#define KV_BIND(member) Bind(this, member, QStringLiteral(#member))

void DownloaderDialog::BindControls() {
    BindArrays();
    KV_BIND(m_bootChangeCheck);
    KV_BIND(m_modemType2Radio);
    KV_BIND(m_modemType1Radio);
    KV_BIND(m_fotaFullPathEdit);
    KV_BIND(m_rsrc2FullPathEdit);
    KV_BIND(m_factoryFsFullPathEdit);
    KV_BIND(m_rsrc1FullPathEdit);
    KV_BIND(m_modemFullPathEdit);
    KV_BIND(m_usbFullPathEdit);
    KV_BIND(m_bootFullPathEdit);
    KV_BIND(m_rsrc1KindEdit);
    KV_BIND(m_modemKindEdit);
    KV_BIND(m_rsrc2KindEdit);
    KV_BIND(m_usbKindEdit);
    KV_BIND(m_fotaKindEdit);
    KV_BIND(m_factoryFsKindEdit);
    KV_BIND(m_bootKindEdit);
    KV_BIND(m_fullBinaryCheck);
    KV_BIND(m_binaryFolderEdit);
    KV_BIND(m_statusLogEdit);
    KV_BIND(m_fotaPathEdit);
    KV_BIND(m_factoryFsPathEdit);
    KV_BIND(m_rsrc2PathEdit);
    KV_BIND(m_usbPathEdit);
    KV_BIND(m_rsrc1PathEdit);
    KV_BIND(m_modemPathEdit);
    KV_BIND(m_bootPathEdit);
    KV_BIND(m_emergencyCheck);
    KV_BIND(m_autoCheck);
    KV_BIND(m_statusText);
    KV_BIND(m_saveAsButton);
    KV_BIND(m_loadButton);
    KV_BIND(m_crcCheck);
    KV_BIND(m_bootCheck);
    KV_BIND(m_bootButton);
    KV_BIND(m_usbCheck);
    KV_BIND(m_usbButton);
    KV_BIND(m_modemCheck);
    KV_BIND(m_modemButton);
    KV_BIND(m_rsrc1Check);
    KV_BIND(m_rsrc1Button);
    KV_BIND(m_rsrc2Check);
    KV_BIND(m_rsrc2Button);
    KV_BIND(m_factoryFsCheck);
    KV_BIND(m_factoryFsButton);
    KV_BIND(m_fotaCheck);
    KV_BIND(m_fotaButton);
    KV_BIND(m_downloadButton);
    KV_BIND(m_imageSetPathEdit);
    KV_BIND(m_bootAddressEdit);
    KV_BIND(m_usbAddressEdit);
    KV_BIND(m_modemAddressEdit);
    KV_BIND(m_rsrc1AddressEdit);
    KV_BIND(m_rsrc2AddressEdit);
    KV_BIND(m_factoryFsAddressEdit);
    KV_BIND(m_fotaAddressEdit);
    KV_BIND(m_portSearchButton);
}

#undef KV_BIND

void DownloaderDialog::BindArrays() {
    for (int ch = 0; ch < kChannelCount; ++ch) {
        Bind(this, m_portCombo[ch], QStringLiteral("m_portCombo%1").arg(ch));
        Bind(this, m_progress[ch], QStringLiteral("m_progress%1").arg(ch));
    }
    for (int row = 0; row < kRowCount; ++row)
        Bind(this, m_crcEdit[row], QStringLiteral("m_crcEdit%1").arg(row));
}

DownloaderDialog::RowControls DownloaderDialog::Controls(Row row) const {
    switch (row) {
        case kBootRow:
            return {m_bootCheck,        m_bootButton,      m_bootKindEdit, m_bootPathEdit,
                    m_bootFullPathEdit, m_bootAddressEdit, m_crcEdit[row]};
        case kUsbRow:
            return {m_usbCheck,        m_usbButton,      m_usbKindEdit, m_usbPathEdit,
                    m_usbFullPathEdit, m_usbAddressEdit, m_crcEdit[row]};
        case kModemRow:
            return {m_modemCheck,        m_modemButton,      m_modemKindEdit, m_modemPathEdit,
                    m_modemFullPathEdit, m_modemAddressEdit, m_crcEdit[row]};
        case kRsrc1Row:
            return {m_rsrc1Check,        m_rsrc1Button,      m_rsrc1KindEdit, m_rsrc1PathEdit,
                    m_rsrc1FullPathEdit, m_rsrc1AddressEdit, m_crcEdit[row]};
        case kRsrc2Row:
            return {m_rsrc2Check,        m_rsrc2Button,      m_rsrc2KindEdit, m_rsrc2PathEdit,
                    m_rsrc2FullPathEdit, m_rsrc2AddressEdit, m_crcEdit[row]};
        case kFactoryFsRow:
            return {m_factoryFsCheck,    m_factoryFsButton,       m_factoryFsKindEdit,
                    m_factoryFsPathEdit, m_factoryFsFullPathEdit, m_factoryFsAddressEdit,
                    m_crcEdit[row]};
        case kFotaRow:
            break;
    }
    return {m_fotaCheck,        m_fotaButton,      m_fotaKindEdit,     m_fotaPathEdit,
            m_fotaFullPathEdit, m_fotaAddressEdit, m_crcEdit[kFotaRow]};
}

void DownloaderDialog::WatchPortEvents() {
    const int fd = m_services.portEvents->fd();
    if (fd >= 0) m_portNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
}

// Every signal of the dialog is connected here and in WireRows.
void DownloaderDialog::WireSignals() {
    const auto onClick = [this](QAbstractButton* button, void (DownloaderDialog::*handler)()) {
        connect(button, &QAbstractButton::clicked, this, handler);
    };
    onClick(m_loadButton, &DownloaderDialog::OnLoad);
    onClick(m_saveAsButton, &DownloaderDialog::OnSaveAs);
    onClick(m_downloadButton, &DownloaderDialog::OnDownload);
    onClick(m_portSearchButton, &DownloaderDialog::OnPortSearch);
    onClick(m_autoCheck, &DownloaderDialog::OnAutoClicked);
    onClick(m_bootButton, &DownloaderDialog::OnBootButton);
    onClick(m_fullBinaryCheck, &DownloaderDialog::OnFullBinary);
    onClick(m_modemType1Radio, &DownloaderDialog::OnModemType1);
    onClick(m_modemType2Radio, &DownloaderDialog::OnModemType2);
    onClick(m_bootChangeCheck, &DownloaderDialog::OnBootChange);
    // activated, not currentIndexChanged: only the operator's choice counts,
    // never a selection the program makes.
    for (int ch = 0; ch < kChannelCount; ++ch) {
        connect(m_portCombo[ch], &QComboBox::activated, this, [this, ch] { OnPortSelected(ch); });
    }
    if (m_portNotifier != nullptr) {
        connect(m_portNotifier, &QSocketNotifier::activated, this,
                &DownloaderDialog::OnPortEventsReady);
    }
    WireRows();
}

void DownloaderDialog::WireRows() {
    using Handler = void (DownloaderDialog::*)();
    static constexpr Handler kCheckHandlers[kRowCount] = {
        &DownloaderDialog::OnBootCheck,  &DownloaderDialog::OnUsbCheck,
        &DownloaderDialog::OnModemCheck, &DownloaderDialog::OnRsrc1Check,
        &DownloaderDialog::OnRsrc2Check, &DownloaderDialog::OnFactoryFsCheck,
        &DownloaderDialog::OnFotaCheck};
    // The Boot row's button is the boot-folder button, wired above.
    static constexpr Handler kBrowseHandlers[kRowCount] = {nullptr,
                                                           &DownloaderDialog::OnUsbBrowse,
                                                           &DownloaderDialog::OnModemBrowse,
                                                           &DownloaderDialog::OnRsrc1Browse,
                                                           &DownloaderDialog::OnRsrc2Browse,
                                                           &DownloaderDialog::OnFactoryFsBrowse,
                                                           &DownloaderDialog::OnFotaBrowse};
    for (int r = 0; r < kRowCount; ++r) {
        const RowControls row = Controls(static_cast<Row>(r));
        connect(row.check, &QAbstractButton::clicked, this, kCheckHandlers[r]);
        if (kBrowseHandlers[r] != nullptr) {
            connect(row.button, &QAbstractButton::clicked, this, kBrowseHandlers[r]);
        }
        // Focus changes of the path edits reach eventFilter.
        row.path->installEventFilter(this);
        row.fullPath->installEventFilter(this);
    }
}

bool DownloaderDialog::eventFilter(QObject* watched, QEvent* event) {
    const bool in = event->type() == QEvent::FocusIn;
    const bool out = event->type() == QEvent::FocusOut;
    for (int r = 0; (in || out) && r < kRowCount; ++r) {
        const RowControls row = Controls(static_cast<Row>(r));
        if (in && (watched == row.path || watched == row.fullPath)) ShowFullPath(Row(r));
        if (out && watched == row.fullPath) HideFullPath(Row(r));
    }
    return QDialog::eventFilter(watched, event);
}

void DownloaderDialog::OnInitDialog() {
    setWindowIcon(m_hIcon);
    FillPortCombos();
    m_autoCheck->setChecked(true);
    m_emergencyCheck->setChecked(true);
    m_fotaCheck->setEnabled(false);
    setWindowTitle(QString::fromLatin1(kWindowTitle));
    m_bootAddressEdit->hide();
    m_crcEdit[kBootRow]->hide();
    std::fill(std::begin(m_channelPort), std::end(m_channelPort), 0);
    m_busy = 0;
    // The settings, the image set and the port map all live in the start
    // directory; a file dialog changing the current directory moves none.
    if (!SetStartDirectoryFromProcess()) g_szCurrentDir[0] = '\0';
    platform::PortMap_SetDirectory(g_szCurrentDir[0] != '\0' ? g_szCurrentDir : ".");
    LoadSettingsToControls(nullptr);
    // With "A u t o" unchecked the stored ports are the operator's own choice
    // and stay; a search now would release them and the close would store
    // the loss. Port Search remains at hand.
    if (m_autoCheck->isChecked()) OnPortSearch();
}

void DownloaderDialog::FillPortCombos() {
    for (int ch = 0; ch < kChannelCount; ++ch) {
        QComboBox* combo = m_portCombo[ch];
        combo->clear();
        combo->addItem(QString::fromLatin1(kNoPortEntry));
        for (int n = 1; n <= kPortEntries; ++n)
            combo->addItem(QStringLiteral("COM%1").arg(n));
        m_channelPort[ch] = 0;
        SelectPortEntry(ch, 0);
    }
}

void DownloaderDialog::accept() {
    // The OK command does nothing: the dialog ends only through done().
}

void DownloaderDialog::done(int result) {
    if (m_sessionRunning) {
        // Never end under the running session: stop it, and finish the close
        // once the session runner has returned (RunDownloadSession).
        m_closePending = true;
        StopAllChannels();
        return;
    }
    if (!m_tornDown) TearDown();
    QDialog::done(result);
}

void DownloaderDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);  // Escape rejects
}

void DownloaderDialog::TearDown() {
    m_tornDown = true;
    // The settings are stored; the image set only when the operator changed it.
    CopyControlsToSettings();
    WriteSettings(nullptr, &m_shownImageSet);
    VARKO_StopSession();
    // No channel holds a port any more: this starts no worker and returns.
    VARKO_RunSession(0);
}
