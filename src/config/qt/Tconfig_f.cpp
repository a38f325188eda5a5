#include "config/qt/Tconfig_f.h"

#include "common/Errors.h"
#include "config/IniFile.h"
#include "platform/XrdpLogSource.h"
#include "platform/portable/EventSourceChoice.h"
#include "settings/SettingRanges.h"
#include "settings/Settings.h"
#include "widgets/UpDown.h"
#include "widgets/WindowFont.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

namespace ostrel {

namespace {

// Where the hidden pass interval sits: left of the dialog's left edge, a fixed distance
// above its bottom edge.
constexpr int TimeLeft = -80;
constexpr int TimeWidth = 40;
constexpr int UpDownWidth = 17;
constexpr int FieldHeight = 21;
constexpr int TimeDistanceFromBottom = 40;

QLabel* label(const QString& text, QWidget* buddy) {
    auto* caption = new QLabel(text);
    caption->setBuddy(buddy);
    return caption;
}

// A label over a narrow field: it may break into two lines rather than be cut.
QLabel* wrappingLabel(const QString& text, QWidget* buddy) {
    QLabel* caption = label(text, buddy);
    caption->setWordWrap(true);
    caption->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
    return caption;
}

} // namespace

Tconfig_f::Tconfig_f(Settings& settings, IniFile& ini, Hooks hooks, QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_settings(settings), m_ini(ini), m_hooks(std::move(hooks)) {
    setObjectName("config_f");
    setWindowTitle("Configuration");
    setSizeGripEnabled(false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(8);
    layout->addWidget(buildConnectionGroup());
    layout->addWidget(buildPrefixGroup());
    layout->addWidget(buildBlockingGroup());
    layout->addStretch(1);
    Button1 = new QPushButton("Save");
    Button1->setObjectName("Button1");
    // Enter in a field must not save behind the operator's back.
    Button1->setAutoDefault(false);
    Button1->setMinimumHeight(25);
    layout->addWidget(Button1);
    connect(Button1, &QPushButton::clicked, this, &Tconfig_f::Button1Click);

    // Not part of the layout: it is out of sight on purpose.
    Time = textField("Time", &SettingsValues::Time, this);
    UpDown1 = new UpDown(5, 120, 5, this);
    UpDown1->setObjectName("UpDown1");
    UpDown1->setAssociate(Time);

    setTabOrder(ConfServer, ConfServerPort);
    setTabOrder(ConfServerPort, ConfServerDatabase);
    setTabOrder(ConfServerDatabase, ConfServerUser);
    setTabOrder(ConfServerUser, ConfServerPass);
    setTabOrder(ConfServerPass, tbl_prefix);
    setTabOrder(tbl_prefix, tbl_history_prefix);
    setTabOrder(tbl_history_prefix, BlockInvalidUserCount);
    setTabOrder(BlockInvalidUserCount, Blocktime);
    setTabOrder(Blocktime, BlocktimeHoneypot);
    setTabOrder(BlocktimeHoneypot, BlockInvalidUser);
    setTabOrder(BlockInvalidUser, Report);
    setTabOrder(Report, AbuseReportRDPURL);
    setTabOrder(AbuseReportRDPURL, AbuseKEY);
    setTabOrder(AbuseKEY, AllowList);
    setTabOrder(AllowList, EventSource);
    setTabOrder(EventSource, Time);
    setTabOrder(Time, Button1);

    applyWindowFont(*this);
    // A tool window of fixed size; should a larger font need more room, the fields get it.
    setFixedSize(QSize(MinimumClientWidth, MinimumClientHeight).expandedTo(minimumSizeHint()));
    refreshFromSettings();
    placeTime();
}

QLineEdit* Tconfig_f::textField(const char* name, std::string SettingsValues::*setting, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(name);
    field->setMinimumHeight(FieldHeight);
    connect(field, &QLineEdit::textChanged, this,
            [this, setting](const QString& text) { m_settings.set(setting, text.toStdString()); });
    m_texts.push_back({field, setting});
    return field;
}

QCheckBox* Tconfig_f::checkField(const char* name, const QString& caption, bool SettingsValues::*setting) {
    auto* box = new QCheckBox(caption);
    box->setObjectName(name);
    box->setLayoutDirection(Qt::RightToLeft); // the box at the right of its caption
    connect(box, &QCheckBox::toggled, this, [this, setting](bool on) { m_settings.set(setting, on); });
    m_checks.push_back({box, setting});
    return box;
}

QWidget* Tconfig_f::spinField(QLineEdit*& field, UpDown*& upDown, const char* fieldName, const char* upDownName,
                              std::string SettingsValues::*setting, int minimum, int maximum, int position) {
    auto* holder = new QWidget;
    auto* row = new QHBoxLayout(holder);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    field = textField(fieldName, setting);
    field->setFixedWidth(60);
    upDown = new UpDown(minimum, maximum, position);
    upDown->setObjectName(upDownName);
    upDown->setFixedSize(UpDownWidth, FieldHeight);
    upDown->setAssociate(field);
    row->addWidget(field);
    row->addWidget(upDown);
    row->addStretch(1);
    return holder;
}

QWidget* Tconfig_f::buildConnectionGroup() {
    auto* group = new QGroupBox("MySQL Database connection");
    auto* grid = new QGridLayout(group);
    ConfServer = textField("ConfServer", &SettingsValues::SQLServer);
    ConfServerPort = textField("ConfServerPort", &SettingsValues::SQLPort);
    ConfServerDatabase = textField("ConfServerDatabase", &SettingsValues::SQLDatabase);
    ConfServerUser = textField("ConfServerUser", &SettingsValues::SQLUsername);
    ConfServerPass = textField("ConfServerPass", &SettingsValues::SQLPasswort);
    ConfServerPass->setEchoMode(QLineEdit::Normal); // shown in clear, as typed

    grid->addWidget(label("Server", ConfServer), 0, 0);
    grid->addWidget(label("Port", ConfServerPort), 0, 1);
    grid->addWidget(ConfServer, 1, 0);
    grid->addWidget(ConfServerPort, 1, 1);
    grid->addWidget(label("Database", ConfServerDatabase), 2, 0);
    grid->addWidget(ConfServerDatabase, 3, 0);
    grid->addWidget(label("Username", ConfServerUser), 4, 0);
    grid->addWidget(label("Password", ConfServerPass), 4, 1);
    grid->addWidget(ConfServerUser, 5, 0);
    grid->addWidget(ConfServerPass, 5, 1);
    grid->setColumnStretch(0, 3);
    grid->setColumnStretch(1, 2);
    return group;
}

QWidget* Tconfig_f::buildPrefixGroup() {
    auto* group = new QGroupBox("Optional - if multiple servers use a single database");
    auto* grid = new QGridLayout(group);
    tbl_prefix = textField("tbl_prefix", &SettingsValues::SQLTBLPrefix);
    tbl_history_prefix = textField("tbl_history_prefix", &SettingsValues::SQLTBLPrefixHistory);
    Memo1 = new QPlainTextEdit;
    Memo1->setObjectName("Memo1");
    Memo1->setPlainText("The history can have the same prefix in all \ninstances. See Readme.txt");
    Memo1->setReadOnly(true);
    Memo1->setFocusPolicy(Qt::NoFocus);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QPalette grey = Memo1->palette();
    grey.setColor(QPalette::Base, palette().color(QPalette::Window));
    grey.setColor(QPalette::Text, palette().color(QPalette::Disabled, QPalette::Text));
    Memo1->setPalette(grey);
    Memo1->setFixedHeight(86);

    grid->addWidget(label("Table prefix", tbl_prefix), 0, 0);
    grid->addWidget(tbl_prefix, 1, 0);
    grid->addWidget(label("Table prefix (History)", tbl_history_prefix), 2, 0);
    grid->addWidget(tbl_history_prefix, 3, 0);
    grid->addWidget(Memo1, 0, 1, 4, 1);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    return group;
}

QWidget* Tconfig_f::buildBlockingGroup() {
    auto* group = new QGroupBox("How to handle Bad  IP's");
    auto* grid = new QGridLayout(group);
    QWidget* count = spinField(BlockInvalidUserCount, UpDown3, "BlockInvalidUserCount", "UpDown3",
                               &SettingsValues::BlockInvalidUserCount, 1, 50, 1);
    QWidget* blocktime = spinField(Blocktime, BlocktimeUpdown, "Blocktime", "BlocktimeUpdown",
                                   &SettingsValues::BlockInvalidUserInterval, 0, 1440, 120);
    QWidget* honeypot = spinField(BlocktimeHoneypot, BlocktimeHoneypotUpDown, "BlocktimeHoneypot",
                                  "BlocktimeHoneypotUpDown", &SettingsValues::BlockHoneypotInterval, 1, 1440, 120);
    BlockInvalidUser = checkField("BlockInvalidUser", "Create firewall rules", &SettingsValues::BlockInvalidUser);
    Report = checkField("Report", "Use report-script", &SettingsValues::Report);
    AbuseReportRDPURL = textField("AbuseReportRDPURL", &SettingsValues::AbuseReportRDPURL);
    AbuseKEY = textField("AbuseKEY", &SettingsValues::AbuseKEY);
    AllowList = textField("AllowList", &SettingsValues::AllowList);
    AllowList->setPlaceholderText("e.g. 198.51.100.7, 203.0.113.0/24, 2001:db8::/32");
    EventSource = new QComboBox;
    EventSource->setObjectName("EventSource");
    EventSource->setEditable(true); // another xrdp log is typed as xrdp:<path>
    EventSource->setInsertPolicy(QComboBox::NoInsert);
    EventSource->addItems({"eventlog", "channel", QString("xrdp:") + platform::DefaultXrdpLog});
    EventSource->lineEdit()->setPlaceholderText(QString("empty: the platform's own (") + platform::EventSourceChoices +
                                                ")");
    connect(EventSource->lineEdit(), &QLineEdit::textChanged, this,
            [this](const QString& text) { m_settings.set(&SettingsValues::EventSource, text.toStdString()); });
    m_texts.push_back({EventSource->lineEdit(), &SettingsValues::EventSource});

    grid->addWidget(wrappingLabel("Maximum failed attempts:", BlockInvalidUserCount), 0, 0);
    grid->addWidget(wrappingLabel("Block time in minutes", Blocktime), 0, 1);
    grid->addWidget(wrappingLabel("Block time (Honeypot)", BlocktimeHoneypot), 0, 2);
    grid->addWidget(count, 1, 0);
    grid->addWidget(blocktime, 1, 1);
    grid->addWidget(honeypot, 1, 2);
    grid->addWidget(BlockInvalidUser, 1, 4);
    grid->addWidget(Report, 2, 4);
    grid->addWidget(label("AbuseScript URL", AbuseReportRDPURL), 3, 0, 1, 5);
    grid->addWidget(AbuseReportRDPURL, 4, 0, 1, 5);
    grid->addWidget(label("Abuse Block Key", AbuseKEY), 5, 0, 1, 5);
    grid->addWidget(AbuseKEY, 6, 0, 1, 5);
    grid->addWidget(label("Allow list - never blocked (addresses and ranges)", AllowList), 7, 0, 1, 5);
    grid->addWidget(AllowList, 8, 0, 1, 5);
    grid->addWidget(label("Failed logons from (event source)", EventSource), 9, 0, 1, 5);
    grid->addWidget(EventSource, 10, 0, 1, 5);
    grid->setColumnStretch(3, 1);
    return group;
}

void Tconfig_f::refreshFromSettings() {
    const SettingsValues values = m_settings.snapshot();
    for (const TextBinding& binding : m_texts) {
        const QString text = QString::fromStdString(values.*(binding.setting));
        if (binding.field->text() != text)
            binding.field->setText(text);
    }
    for (const CheckBinding& binding : m_checks)
        binding.field->setChecked(values.*(binding.setting));
}

void Tconfig_f::centreOverParent() {
    QWidget* owner = parentWidget();
    if (!owner)
        return;
    const QSize frame = frameGeometry().size();
    QPoint corner = owner->frameGeometry().center() - QPoint(frame.width() / 2, frame.height() / 2);
    // Centred over a window near the screen's edge, the dialog would reach past it.
    if (const QScreen* screen = owner->screen()) {
        const QRect available = screen->availableGeometry();
        corner.setX(std::max(available.left(), std::min(corner.x(), available.right() + 1 - frame.width())));
        corner.setY(std::max(available.top(), std::min(corner.y(), available.bottom() + 1 - frame.height())));
    }
    move(corner);
}

void Tconfig_f::showNonModal() {
    if (!isVisible())
        centreOverParent();
    show();
    raise();
    activateWindow();
}

void Tconfig_f::showModal() {
    // A shown window cannot turn modal in place: it is hidden and shown again as modal.
    if (isVisible())
        hide();
    centreOverParent();
    exec();
}

std::string Tconfig_f::refusedValue() {
    // The number fields with the ranges their spins allow; the port has no spin but the same rule.
    const std::pair<QLineEdit*, const SettingRange*> numberFields[] = {
        {ConfServerPort, &SQLPortRange},
        {BlockInvalidUserCount, &BlockInvalidUserCountRange},
        {Blocktime, &BlockInvalidUserIntervalRange},
        {BlocktimeHoneypot, &BlockHoneypotIntervalRange},
    };
    for (const auto& [field, range] : numberFields) {
        const std::string problem = settingNumberProblem(*range, field->text().toStdString());
        if (problem.empty())
            continue;
        field->setFocus();
        field->selectAll();
        return std::string("\"") + range->caption + "\" (" + range->field + "): " + problem;
    }
    return {};
}

void Tconfig_f::Button1Click() {
    try {
        // Nothing reaches the file unless every value is one the guard can use.
        if (const std::string refused = refusedValue(); !refused.empty())
            throw EConvertError(refused);
        // One rewrite for the whole Save, and one error when it fails (a read-only or unreadable
        // file, a folder that cannot be written): the operator sees it and the dialog stays open.
        m_ini.BeginUpdate();
        try {
            m_ini.WriteString("SQLServer", ConfServer->text().toStdString());
            m_ini.WriteString("SQLPort", ConfServerPort->text().toStdString());
            m_ini.WriteString("SQLDatabase", ConfServerDatabase->text().toStdString());
            m_ini.WriteString("SQLUsername", ConfServerUser->text().toStdString());
            m_ini.WriteString("SQLPasswort", ConfServerPass->text().toStdString());
            m_ini.WriteString("SQLTBLPrefix", tbl_prefix->text().toStdString());
            m_ini.WriteString("SQLTBLPrefixHistory", tbl_history_prefix->text().toStdString());
            m_ini.WriteBoolean("BlockInvalidUser", BlockInvalidUser->isChecked());
            m_ini.WriteString("BlockInvalidUserCount", BlockInvalidUserCount->text().toStdString());
            m_ini.WriteString("BlockInvalidUserInterval", Blocktime->text().toStdString());
            m_ini.WriteString("BlockHoneypotInterval", BlocktimeHoneypot->text().toStdString());
            m_ini.WriteString("AbuseReportRDPURL", AbuseReportRDPURL->text().toStdString());
            m_ini.WriteString("AbuseKEY", AbuseKEY->text().toStdString());
            m_ini.WriteBoolean("Report", Report->isChecked());
            m_ini.WriteString("AllowList", AllowList->text().toStdString());
            m_ini.WriteString("EventSource", EventSource->currentText().toStdString());
        } catch (...) {
            m_ini.EndUpdate();
            throw;
        }
        m_ini.CommitUpdate();
        if (m_hooks.load)
            m_hooks.load();
        hide();
    } catch (...) {
        if (m_hooks.reportError)
            m_hooks.reportError(std::current_exception());
    }
}

void Tconfig_f::placeTime() {
    const int top = height() - TimeDistanceFromBottom;
    Time->setGeometry(TimeLeft, top, TimeWidth, FieldHeight);
    UpDown1->setGeometry(TimeLeft + TimeWidth, top, UpDownWidth, FieldHeight);
}

void Tconfig_f::FormResize() {
    if (width() < MinimumClientWidth)
        resize(MinimumClientWidth, height());
    if (height() < MinimumClientHeight)
        resize(width(), MinimumClientHeight);
}

void Tconfig_f::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    FormResize();
    placeTime();
}

} // namespace ostrel
