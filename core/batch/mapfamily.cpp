// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/mapfamily.h"

#include <QCoreApplication>
#include <QStringList>

// Defined by the list of families (families/), which every program links
// with the core: the core knows families only through what they register.
void registerBuiltinFamilies(FamilyRegistry &registry);

qint64 FamilyRequest::plannedMaps() const
{
    // Shared out by map, or with targets by cell of `replicates` maps.
    const qint64 own = output.ownUnits(shareUnits());
    return output.selects() ? own * replicates : own;
}

bool FamilyRequest::ownsMapOf(qint64 cell, qint64 replicate) const
{
    if (replicate < 1 || replicate > replicates)
        return false;
    return output.ownsUnit(output.selects() ? cell : cell * replicates + replicate - 1,
                           shareUnits());
}

std::optional<NamePlace> NameScheme::read(QStringView tail) const
{
    std::optional<NamePlace> place = parse(tail);
    if (place && this->tail(*place) != tail)
        return std::nullopt;
    return place;
}

std::optional<Phrase> MapFamily::surface(const FamilyRequest &, qint64, qint64, Surface &) const
{
    return Phrase(QCoreApplication::translate("MapFamily", "%1 maps are not cut from a surface")
                      .arg(QLatin1String(word())));
}

FamilyRegistry &FamilyRegistry::global()
{
    static FamilyRegistry registry = [] {
        FamilyRegistry builtIn;
        registerBuiltinFamilies(builtIn);
        return builtIn;
    }();
    return registry;
}

void FamilyRegistry::add(const MapFamily &family)
{
    if (!named(QLatin1String(family.word())))
        m_families.push_back(&family);
}

const MapFamily *FamilyRegistry::named(QAnyStringView word) const
{
    for (const MapFamily *family : m_families)
        if (QAnyStringView::compare(word, QLatin1String(family->word())) == 0)
            return family;
    return nullptr;
}

QString familyWords(const QString &lastJoin)
{
    QStringList words;
    for (const MapFamily *family : mapFamilies())
        words.append(QLatin1String(family->word()));
    if (words.size() < 2)
        return words.join(QString());
    const QString last = words.takeLast();
    return words.join(QStringLiteral(", ")) + QLatin1Char(' ') + lastJoin + QLatin1Char(' ') + last;
}
