// SPDX-License-Identifier: GPL-3.0-or-later
#include "gaussian/dialoggrf.h"

#include "fractal/dialogfbm.h"
#include "tests/dialogs/formprobe.h"
#include "tests/support/settings.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTest>

class TestDialogGrf : public QObject {
    Q_OBJECT

private:
    template <typename T> static T *child(const dialogGrf &dialog, const char *name)
    {
        auto *found = dialog.findChild<T *>(QLatin1String(name));
        Q_ASSERT(found);
        return found;
    }

    static void choose(const dialogGrf &dialog, const char *box, int value)
    {
        auto *combo = child<QComboBox>(dialog, box);
        combo->setCurrentIndex(combo->findData(value));
    }

    static QPushButton *ok(const dialogGrf &dialog)
    {
        return child<QDialogButtonBox>(dialog, "buttonBox")->button(QDialogButtonBox::Ok);
    }

    static QString reason(const dialogGrf &dialog)
    {
        return child<QLabel>(dialog, "reason")->text();
    }

    ScratchSettings m_settings;

private Q_SLOTS:
    void init()
    {
        m_settings.clear();
        QTest::failOnWarning(QRegularExpression(QStringLiteral("connectSlotsByName")));
    }

    // A fresh dialog asks for the request's own defaults, prefix included,
    // and promises what the run makes.
    void startsFromTheRequestsDefaults()
    {
        dialogGrf dialog;
        child<QLineEdit>(dialog, "path")->setText(QStringLiteral("maps"));
        const GaussianBatchRequest request = dialog.request();
        const GaussianBatchRequest defaults;
        QCOMPARE(request.model, defaults.model);
        QCOMPARE(request.axisValues(), defaults.axisValues());
        QCOMPARE(request.cut, FractalCut::Exact);
        QCOMPARE(request.output.prefix, QStringLiteral("GRF_"));
        QCOMPARE(child<QSpinBox>(dialog, "nArq")->value(), 900);
        QVERIFY(ok(dialog)->isEnabled());
    }

    // fbm sweeps H in place of the range, and only Matern fields have a nu.
    void theModelDecidesWhatIsAsked()
    {
        dialogGrf dialog;
        dialog.show();
        QVERIFY(child<QDoubleSpinBox>(dialog, "Ri")->isVisible());
        QVERIFY(!child<QDoubleSpinBox>(dialog, "Hi")->isVisible());
        QVERIFY(!child<QDoubleSpinBox>(dialog, "nu")->isEnabled());
        choose(dialog, "model", int(CovarianceModel::Fbm));
        QVERIFY(!child<QDoubleSpinBox>(dialog, "Ri")->isVisible());
        QVERIFY(child<QDoubleSpinBox>(dialog, "Hi")->isVisible());
        typeInto(child<QDoubleSpinBox>(dialog, "Hf"),
                 child<QDoubleSpinBox>(dialog, "Hf")->locale().toString(0.5, 'f', 2));
        QCOMPARE(dialog.request().axisValues().size(), std::size_t(5));
        QCOMPARE(child<QSpinBox>(dialog, "nArq")->value(), 500);
        choose(dialog, "model", int(CovarianceModel::Matern));
        QVERIFY(child<QDoubleSpinBox>(dialog, "nu")->isEnabled());
        child<QDoubleSpinBox>(dialog, "nu")->setValue(2.5);
        QCOMPARE(dialog.request().nu, 2.5);
        QCOMPARE(child<QSpinBox>(dialog, "nArq")->value(), 900);
    }

    // OK stays off, with the reason, while the values cannot run: a
    // reversed range, a prefix that leaves the folder.
    void okWaitsForValuesThatRun()
    {
        dialogGrf dialog;
        dialog.show();
        child<QLineEdit>(dialog, "path")->setText(QStringLiteral("maps"));
        QVERIFY(ok(dialog)->isEnabled());
        child<QDoubleSpinBox>(dialog, "Ri")->setValue(50);
        QVERIFY(!ok(dialog)->isEnabled());
        QVERIFY2(reason(dialog).contains(QStringLiteral("range")), qPrintable(reason(dialog)));
        child<QDoubleSpinBox>(dialog, "Ri")->setValue(5);
        QVERIFY(ok(dialog)->isEnabled());
        child<QLineEdit>(dialog, "prefix")->setText(QStringLiteral("../up"));
        QVERIFY(!ok(dialog)->isEnabled());
        QVERIFY2(reason(dialog).contains(QStringLiteral("..")), qPrintable(reason(dialog)));
    }

    // An accepted batch's values, choices and prefix come back at the next
    // start; a cancelled one's do not, and the other dialogs keep theirs.
    void acceptedValuesComeBack()
    {
        {
            dialogGrf dialog;
            choose(dialog, "model", int(CovarianceModel::Gaussian));
            choose(dialog, "cut", int(FractalCut::Ladder));
            child<QLineEdit>(dialog, "prefix")->setText(QStringLiteral("fields_"));
            child<QDoubleSpinBox>(dialog, "Rf")->setValue(20);
            child<QSpinBox>(dialog, "seed")->setValue(42);
            child<QLineEdit>(dialog, "path")->setText(QStringLiteral("kept"));
            dialog.accept();
        }
        {
            dialogGrf dialog;
            child<QLineEdit>(dialog, "prefix")->setText(QStringLiteral("lost_"));
            dialog.reject();
        }
        const GaussianBatchRequest next = dialogGrf().request();
        QCOMPARE(next.model, CovarianceModel::Gaussian);
        QCOMPARE(next.cut, FractalCut::Ladder);
        QCOMPARE(next.output.prefix, QStringLiteral("fields_"));
        QCOMPARE(next.ranges.last, 20.0);
        QCOMPARE(next.seed, 42);
        QCOMPARE(next.output.folder, QStringLiteral("kept"));
        QVERIFY(dialogFbm().folderText().isEmpty());
    }
};

QTEST_MAIN(TestDialogGrf)
#include "tst_dialoggrf.moc"
