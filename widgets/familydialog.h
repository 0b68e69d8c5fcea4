// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/phrase.h"

#include <QDialog>
#include <QList>
#include <QString>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

class BatchDialogFrame;
class FamilyRequest;
class MapFamily;
class QWidget;
struct BatchOption;

// A dialog that collects a batch of one family. The window asks it for a
// request and adds what the settings hold (the codes, and the prefix of a
// family config.txt keeps).
class FamilyDialog : public QDialog {
    Q_OBJECT

public:
    using QDialog::QDialog;
    virtual std::unique_ptr<FamilyRequest> familyRequest() const = 0;
};

// The families whose dialog is a form of their own; every other family's is
// built from its rows.
class FamilyForms final {
public:
    using Factory = std::unique_ptr<FamilyDialog> (*)(QWidget *parent);
    static FamilyForms &global();
    void add(const char *word, Factory factory);
    Factory find(const MapFamily &family) const;

private:
    FamilyForms() = default;
    std::vector<std::pair<QString, Factory>> m_forms;
};

// The dialog of a family: its own form where it has one, else one built
// from the rows of its description.
std::unique_ptr<FamilyDialog> makeFamilyDialog(const MapFamily &family, QWidget *parent = nullptr);

// A dialog built from a family's rows: a form layout of a field for every
// option that shapes the maps (spin boxes within the option's limits, a
// choice box, a check box, a line for text), starting from the family's
// defaults and remembering the last accepted values; the output folder,
// the Output group, the total of maps, and OK kept off with the reason
// while the values cannot run. The fields are named by the options' keys.
class OptionDialog final : public FamilyDialog {
    Q_OBJECT

public:
    explicit OptionDialog(const MapFamily &family, QWidget *parent = nullptr);
    std::unique_ptr<FamilyRequest> familyRequest() const override;

private:
    struct Field {
        const BatchOption *option;
        QList<QWidget *> widgets;
    };
    void addField(const BatchOption &option, class QFormLayout *form);
    // The request the fields give; `mistake` learns of the first field
    // whose text is no value of its option.
    std::unique_ptr<FamilyRequest> build(std::optional<Phrase> *mistake) const;
    void updateTotal();
    void remember() const;
    void restore();

    const MapFamily &m_family;
    std::vector<Field> m_fields;
    BatchDialogFrame *m_frame = nullptr;
};
