// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <optional>

#include <QWidget>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLineEdit;
class QToolButton;
class FamilyRequest;
class Phrase;
class QSpinBox;
struct StudyArea;

// The output choices the command line has: the maps' format, their cell
// size, origin and reference system, the landscape metrics in the
// manifest, the columns of maps that are not square, the classes and their
// proportions, and the mask of a study area. Its values start as the command line's defaults, which
// write the maps as the dialogs always have, and it starts closed behind its "Output" button, so
// that a dialog looks as it did until the group is opened.
class OutputGroup final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(OutputGroup)

public:
    explicit OutputGroup(QWidget *parent = nullptr);

    bool isOpen() const;
    void setOpen(bool open);
    // Everything but the folder, the names and the codes; a value the
    // request cannot take (a mask that cannot be read) is said, and the
    // rest is still applied.
    std::optional<Phrase> applyTo(FamilyRequest &request) const;
    // The options of the description the group sets, by their keys, so
    // that a dialog built from rows leaves them to it.
    static bool holds(const char *key);

Q_SIGNALS:
    void edited();
    // Before the body shows, so that the size of the closed group can be
    // taken, and after it has shown or hidden.
    void aboutToOpen();
    void openChanged(bool open);

private:
    QToolButton *m_toggle;
    QWidget *m_body;
    QComboBox *m_format;
    QDoubleSpinBox *m_cellSize;
    QDoubleSpinBox *m_originX;
    QDoubleSpinBox *m_originY;
    QLineEdit *m_crs;
    QCheckBox *m_metrics;
    QSpinBox *m_columns;
    QLineEdit *m_proportions;
    QLineEdit *m_classValues;
    QLineEdit *m_mask;
    QLineEdit *m_maskValue;
    // The study area last read, so that a dialog that rebuilds its request
    // at every edit reads its mask once, until the path or value changes.
    mutable std::shared_ptr<const StudyArea> m_area;
};
