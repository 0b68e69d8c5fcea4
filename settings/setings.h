// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QString>

#include <memory>
#include <optional>

class RefusalLine;

namespace Ui {
class setings;
}

// Edits the six stored settings and holds the seed of random runs. The seed
// lives only in this dialog: it is never saved, so every process starts
// from the form's 5, and a seed typed here stays in effect even when the
// dialog is cancelled.
class setings final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(setings)

public:
    explicit setings(QWidget *parent = nullptr);
    ~setings() override;

    void setRandomPrefix(const QString &text);
    QString randomPrefix() const;
    void setRandomPostString(const QString &text);
    QString randomPostString() const;
    void setFractalPrefix(const QString &text);
    QString fractalPrefix() const;
    void setFractalPostString(const QString &text);
    QString fractalPostString() const;

    // Values outside the spin box's range are clamped to its nearest bound.
    void setCoverValue(int value);
    int coverValue() const;
    void setMatrixValue(int value);
    int matrixValue() const;

    int seed() const;

    // Why the values shown cannot be kept, in a sentence; nothing when they
    // can. OK stays off meanwhile, with the reason above it.
    std::optional<QString> refusal() const;

public Q_SLOTS:
    void accept() override;

private:
    void updateRefusal();

    Ui::setings *ui;
    std::unique_ptr<RefusalLine> m_refusal;
};
