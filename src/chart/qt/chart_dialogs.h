// The small dialogs the chart's context menu opens, each a thin window over a model without Qt:
// the parameter dialog ("改变公式参数"), the comment dialog ("注释"), the formula editor, the
// formula picker of 系统指示, and the block choices of 加入到自选股 and 从板块中删除.
#pragma once

#include <QDialog>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "formula/formula_management.h"
#include "formula/formula_management_dialogs.h"
#include "formula/formula_management_editor.h"

class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QTableWidget;
class QTreeWidget;

namespace tessaro::chart {

// The formula windows' boxes as message boxes (caption "系统提示").
class QtFormulaPrompt : public FormulaPrompt {
public:
    explicit QtFormulaPrompt(QWidget* parent) : parent_(parent) {}
    void Message(std::string_view text) override;
    Answer Ask(std::string_view text, bool withCancel) override;
    std::optional<std::string> Input(std::string_view title, std::string_view prompt, std::string_view initial,
                                     bool masked) override;

private:
    QWidget* parent_;
};

// "改变公式参数": one spin box per parameter (its minimum, maximum and step) starting from the
// values a slot holds; every change is passed on at once, and Cancel passes the starting values
// back. "设为默认参数&S" and "恢复默认参数&R" as the model has them.
class ParameterDialog : public QDialog {
    Q_OBJECT
public:
    ParameterDialog(FormulaSet& set, uint32_t type, const std::string& nameGbk, const std::vector<float>& start,
                    ParameterDialogModel::ChangedFn changed, QWidget* parent = nullptr);
    ~ParameterDialog() override;
    int count() const { return static_cast<int>(spins_.size()); }
    QDoubleSpinBox* spin(int i) const { return spins_[static_cast<size_t>(i)]; }
    QString commentText() const;

    void reject() override;

private:
    void Show();

    QtFormulaPrompt prompt_;
    ParameterDialogModel::ChangedFn changed_;
    std::unique_ptr<ParameterDialogModel> model_;
    std::vector<float> start_;
    std::vector<QDoubleSpinBox*> spins_;
    QLabel* comment_ = nullptr;
    bool showing_ = false;
};

// "注释": the formula's comment, edited and stored in the set on OK.
class CommentDialog : public QDialog {
    Q_OBJECT
public:
    CommentDialog(FormulaSet& set, uint32_t type, const std::string& nameGbk, QWidget* parent = nullptr);
    QPlainTextEdit* edit() const { return edit_; }
    void accept() override;

private:
    FormulaSet& set_;
    QtFormulaPrompt prompt_;
    uint32_t type_;
    std::string name_;
    QPlainTextEdit* edit_;
};

// The formula editor: name, description, the parameter grid, the text and the coordinate lines;
// "编译&T" compiles, "确定&Y" stores, saves and announces the formula.
class FormulaEditDialog : public QDialog {
    Q_OBJECT
public:
    FormulaEditDialog(FormulaSet& set, QWidget* parent = nullptr);
    // False when the formula cannot be edited (the model has said why).
    bool Open(uint32_t type, const std::string& nameGbk);
    QPlainTextEdit* textEdit() const { return text_; }
    QLabel* status() const { return status_; }
    bool Compile();
    void accept() override;

private:
    void ToModel();

    QtFormulaPrompt prompt_;
    FormulaEditorModel model_;
    QLineEdit* name_;
    QLineEdit* description_;
    QTableWidget* params_;
    QPlainTextEdit* text_;
    QLineEdit* coordinates_;
    QLabel* status_;
};

// 系统指示: a tree of the signal formulas by their manager tab; the chosen one.
class SignalFormulaPicker : public QDialog {
    Q_OBJECT
public:
    SignalFormulaPicker(const std::vector<FormulaRecord>& choices, QWidget* parent = nullptr);
    QTreeWidget* tree() const { return tree_; }
    // The selected formula's type and GBK name.
    std::optional<std::pair<uint32_t, std::string>> chosen() const;

private:
    QTreeWidget* tree_;
};

// 加入到自选股 (one block to choose) and 从板块中删除 (a check list titled "从下列选中的板块中删除"):
// the user's blocks by name (GBK).
class BlockChoiceDialog : public QDialog {
    Q_OBJECT
public:
    BlockChoiceDialog(const QString& title, const std::vector<std::string>& namesGbk, bool checkList,
                      QWidget* parent = nullptr);
    QListWidget* list() const { return list_; }
    // The chosen block, or the ticked ones of a check list (GBK).
    std::vector<std::string> chosen() const;

private:
    std::vector<std::string> names_;
    QListWidget* list_;
    bool checkList_;
};

}  // namespace tessaro::chart
