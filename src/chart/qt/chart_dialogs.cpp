#include "chart/qt/chart_dialogs.h"

#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cmath>
#include <map>

#include "platform/text.h"

namespace tessaro::chart {
namespace {

QString Q(std::string_view utf8) { return QString::fromUtf8(utf8.data(), static_cast<int>(utf8.size())); }
QString FromGbk(std::string_view gbk) { return QString::fromStdString(GbkToUtf8(gbk)); }

// "\r\n" line ends shown as plain line breaks.
QString Lines(const std::string& text) {
    QString s = QString::fromStdString(text);
    s.remove(QLatin1Char('\r'));
    return s;
}

// Plain line breaks stored as "\r\n", the system's line ends.
std::string CrLf(const QString& text) {
    std::string out;
    for (char c : text.toStdString()) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

QDialogButtonBox* OkCancel(QDialog* dialog) {
    auto* box = new QDialogButtonBox(dialog);
    box->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
    box->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    QObject::connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return box;
}

}  // namespace

void QtFormulaPrompt::Message(std::string_view text) {
    QMessageBox::information(parent_, QStringLiteral("系统提示"), Q(text));
}

FormulaPrompt::Answer QtFormulaPrompt::Ask(std::string_view text, bool withCancel) {
    QMessageBox::StandardButtons buttons = QMessageBox::Yes | QMessageBox::No;
    if (withCancel) buttons |= QMessageBox::Cancel;
    switch (QMessageBox::question(parent_, QStringLiteral("系统提示"), Q(text), buttons)) {
        case QMessageBox::Yes: return Answer::Yes;
        case QMessageBox::No: return Answer::No;
        default: return Answer::Cancel;
    }
}

std::optional<std::string> QtFormulaPrompt::Input(std::string_view title, std::string_view prompt,
                                                  std::string_view initial, bool masked) {
    bool ok = false;
    const QString text = QInputDialog::getText(parent_, Q(title), Q(prompt), masked ? QLineEdit::Password : QLineEdit::Normal,
                                               Q(initial), &ok);
    if (!ok) return std::nullopt;
    return text.toStdString();
}

// ---- 改变公式参数 ------------------------------------------------------------------------

ParameterDialog::ParameterDialog(FormulaSet& set, uint32_t type, const std::string& nameGbk,
                                 const std::vector<float>& start, ParameterDialogModel::ChangedFn changed,
                                 QWidget* parent)
    : QDialog(parent), prompt_(this), changed_(std::move(changed)), start_(start) {
    setWindowTitle(QStringLiteral("改变公式参数"));
    model_ = std::make_unique<ParameterDialogModel>(set, prompt_, type, nameGbk, [this](int i, float v) {
        if (!showing_ && changed_) changed_(i, v);
    });
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    // The dialog starts from the slot's own values, which may differ from the set's.
    showing_ = true;
    for (size_t i = 0; i < model_->params().size(); ++i) {
        if (i < start_.size()) model_->Change(i, start_[i]);
        const FormulaParam& p = model_->params()[i];
        auto* spin = new QDoubleSpinBox(this);
        spin->setDecimals(std::floor(p.step) == p.step && std::floor(p.min) == p.min ? 0 : 2);
        spin->setRange(std::min(p.min, p.max), std::max(p.min, p.max));
        spin->setSingleStep(p.step > 0 ? p.step : 1.0);
        spin->setValue(p.defaultValue);
        form->addRow(FromGbk(p.nameText()), spin);
        connect(spin, &QDoubleSpinBox::valueChanged, this, [this, i](double v) {
            if (!showing_) model_->Change(i, static_cast<float>(v));
        });
        spins_.push_back(spin);
    }
    showing_ = false;
    comment_ = new QLabel(Lines(model_->commentText()), this);
    comment_->setWordWrap(true);
    layout->addWidget(comment_);
    auto* row = new QHBoxLayout;
    auto* keep = new QPushButton(QStringLiteral("设为默认参数&S"), this);
    auto* restore = new QPushButton(QStringLiteral("恢复默认参数&R"), this);
    row->addWidget(keep);
    row->addWidget(restore);
    layout->addLayout(row);
    connect(keep, &QPushButton::clicked, this, [this] { model_->SetAsDefault(); });
    connect(restore, &QPushButton::clicked, this, [this] {
        model_->RestoreDefaults();
        Show();
    });
    layout->addWidget(OkCancel(this));
}

ParameterDialog::~ParameterDialog() = default;

QString ParameterDialog::commentText() const { return comment_->text(); }

void ParameterDialog::Show() {
    showing_ = true;
    for (size_t i = 0; i < spins_.size() && i < model_->params().size(); ++i)
        spins_[i]->setValue(model_->params()[i].defaultValue);
    showing_ = false;
}

void ParameterDialog::reject() {
    // Cancel: the slots take their starting values back.
    for (size_t i = 0; i < start_.size() && i < model_->params().size(); ++i)
        if (model_->params()[i].defaultValue != start_[i] && changed_) changed_(static_cast<int>(i), start_[i]);
    QDialog::reject();
}

// ---- 注释 ------------------------------------------------------------------------------

CommentDialog::CommentDialog(FormulaSet& set, uint32_t type, const std::string& nameGbk, QWidget* parent)
    : QDialog(parent), set_(set), prompt_(this), type_(type), name_(nameGbk) {
    setWindowTitle(QStringLiteral("注释"));
    auto* layout = new QVBoxLayout(this);
    edit_ = new QPlainTextEdit(this);
    if (std::optional<FormulaRecord> f = set.Find(type, nameGbk)) edit_->setPlainText(Lines(GbkToUtf8(f->comment)));
    layout->addWidget(edit_);
    layout->addWidget(OkCancel(this));
    resize(420, 300);
}

void CommentDialog::accept() {
    FormulaManager(set_, prompt_, this).SetComment(type_, name_, Utf8ToGbk(CrLf(edit_->toPlainText())));
    QDialog::accept();
}

// ---- The formula editor ------------------------------------------------------------------

FormulaEditDialog::FormulaEditDialog(FormulaSet& set, QWidget* parent)
    : QDialog(parent), prompt_(this), model_(set, prompt_, this) {
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    name_ = new QLineEdit(this);
    description_ = new QLineEdit(this);
    form->addRow(QStringLiteral("公式名称"), name_);
    form->addRow(QStringLiteral("公式描述"), description_);
    layout->addLayout(form);
    params_ = new QTableWidget(kEditorParamRows, 4, this);
    params_->setHorizontalHeaderLabels({QStringLiteral("参数"), QStringLiteral("缺省值"), QStringLiteral("最小"),
                                        QStringLiteral("最大")});
    params_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    params_->setMaximumHeight(150);
    layout->addWidget(params_);
    text_ = new QPlainTextEdit(this);
    layout->addWidget(text_, 1);
    auto* coords = new QFormLayout;
    coordinates_ = new QLineEdit(this);
    coords->addRow(QStringLiteral("坐标线位置(用;分隔,最多7个)"), coordinates_);
    layout->addLayout(coords);
    status_ = new QLabel(this);
    layout->addWidget(status_);
    auto* box = new QDialogButtonBox(this);
    QPushButton* compile = box->addButton(QStringLiteral("编译&T"), QDialogButtonBox::ActionRole);
    box->addButton(QStringLiteral("确定&Y"), QDialogButtonBox::AcceptRole);
    box->addButton(QStringLiteral("取消&C"), QDialogButtonBox::RejectRole);
    connect(compile, &QPushButton::clicked, this, [this] { Compile(); });
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(box);
    resize(560, 520);
}

bool FormulaEditDialog::Open(uint32_t type, const std::string& nameGbk) {
    if (!model_.OpenExisting(type, nameGbk)) return false;
    setWindowTitle(QString::fromStdString(model_.title()));
    name_->setText(QString::fromStdString(model_.name));
    description_->setText(QString::fromStdString(model_.description));
    for (int r = 0; r < kEditorParamRows && r < static_cast<int>(model_.paramRows.size()); ++r) {
        const ParamRow& row = model_.paramRows[static_cast<size_t>(r)];
        const std::string* cells[] = {&row.name, &row.defaultValue, &row.min, &row.max};
        for (int c = 0; c < 4; ++c) params_->setItem(r, c, new QTableWidgetItem(QString::fromStdString(*cells[c])));
    }
    text_->setPlainText(Lines(model_.text));
    coordinates_->setText(QString::fromStdString(model_.coordinates));
    return true;
}

void FormulaEditDialog::ToModel() {
    model_.name = name_->text().toStdString();
    model_.description = description_->text().toStdString();
    for (int r = 0; r < kEditorParamRows && r < static_cast<int>(model_.paramRows.size()); ++r) {
        ParamRow& row = model_.paramRows[static_cast<size_t>(r)];
        std::string* cells[] = {&row.name, &row.defaultValue, &row.min, &row.max};
        for (int c = 0; c < 4; ++c) {
            const QTableWidgetItem* item = params_->item(r, c);
            *cells[c] = item ? item->text().trimmed().toStdString() : std::string();
        }
    }
    model_.text = CrLf(text_->toPlainText());
    model_.coordinates = coordinates_->text().toStdString();
}

bool FormulaEditDialog::Compile() {
    ToModel();
    const bool ok = model_.Compile();
    status_->setText(QString::fromStdString(model_.status()));
    return ok;
}

void FormulaEditDialog::accept() {
    ToModel();
    // The model stores the formula, saves its source and announces the change.
    if (!model_.Ok()) {
        status_->setText(QString::fromStdString(model_.status()));
        return;
    }
    QDialog::accept();
}

// ---- 系统指示 ------------------------------------------------------------------------------

SignalFormulaPicker::SignalFormulaPicker(const std::vector<FormulaRecord>& choices, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("系统指示"));
    auto* layout = new QVBoxLayout(this);
    tree_ = new QTreeWidget(this);
    tree_->setHeaderHidden(true);
    std::map<uint32_t, QTreeWidgetItem*> tabs;
    for (const FormulaRecord& f : choices) {
        QTreeWidgetItem*& tab = tabs[f.type];
        if (!tab) {
            tab = new QTreeWidgetItem(tree_, {Q(FormulaTabCaption(f.type))});
            tab->setFlags(Qt::ItemIsEnabled);
            tab->setExpanded(true);
        }
        char line[160];
        std::snprintf(line, sizeof line, "%-6s %s", GbkToUtf8(f.nameText()).c_str(), GbkToUtf8(f.description).c_str());
        auto* item = new QTreeWidgetItem(tab, {QString::fromUtf8(line)});
        item->setData(0, Qt::UserRole, static_cast<uint>(f.type));
        item->setData(0, Qt::UserRole + 1, QByteArray::fromStdString(std::string(f.nameText())));
        if (!tree_->currentItem()) tree_->setCurrentItem(item);
    }
    tree_->expandAll();
    connect(tree_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        if (item->parent()) accept();
    });
    layout->addWidget(tree_);
    layout->addWidget(OkCancel(this));
    resize(360, 420);
}

std::optional<std::pair<uint32_t, std::string>> SignalFormulaPicker::chosen() const {
    const QTreeWidgetItem* item = tree_->currentItem();
    if (!item || !item->parent()) return std::nullopt;
    return std::pair<uint32_t, std::string>{item->data(0, Qt::UserRole).toUInt(),
                                            item->data(0, Qt::UserRole + 1).toByteArray().toStdString()};
}

// ---- Blocks --------------------------------------------------------------------------------

BlockChoiceDialog::BlockChoiceDialog(const QString& title, const std::vector<std::string>& namesGbk, bool checkList,
                                     QWidget* parent)
    : QDialog(parent), names_(namesGbk), checkList_(checkList) {
    setWindowTitle(title);
    auto* layout = new QVBoxLayout(this);
    list_ = new QListWidget(this);
    for (const std::string& name : names_) {
        auto* item = new QListWidgetItem(FromGbk(name), list_);
        if (checkList_) item->setCheckState(Qt::Unchecked);
    }
    if (list_->count() > 0) list_->setCurrentRow(0);
    layout->addWidget(list_);
    layout->addWidget(OkCancel(this));
    resize(280, 320);
}

std::vector<std::string> BlockChoiceDialog::chosen() const {
    std::vector<std::string> out;
    for (int i = 0; i < list_->count() && i < static_cast<int>(names_.size()); ++i) {
        const QListWidgetItem* item = list_->item(i);
        if (checkList_ ? item->checkState() == Qt::Checked : item == list_->currentItem())
            out.push_back(names_[static_cast<size_t>(i)]);
    }
    return out;
}

}  // namespace tessaro::chart
