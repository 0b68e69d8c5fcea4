// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/batchrequest.h"
#include "core/batch/phrase.h"
#include "core/files/bulkmemory.h"
#include "core/grid/mapformat.h"

#include <QAnyStringView>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <memory>
#include <optional>
#include <span>
#include <vector>

class MapFamily;
class MapSource;
struct BatchOption;

// What a batch will put on disk at most, estimated before it starts (see
// DiskSpace): its bytes with every file rounded up to whole blocks, its
// files, and the bytes of its records alone, which a run sets aside before
// its first map.
struct DiskEstimate {
    double bytes = 0;
    qint64 files = 0;
    qint64 recordBytes = 0;
};

// The second sweep of a family beside the cover (H, a correlation range),
// as `scan` heads its column and the status bar names it: empty for a
// family that has none. `width` is the column's, negative to the left.
struct SweepAxis {
    QString name;
    int width = -5;
};

// What a user asks of a batch of one family, as plain values: the dialogs
// fill it from their widgets, the command line from its options, Python and
// R from their arguments, and the family's generator runs it. Every family
// sweeps covers, sizes its maps and makes replicates; the rest is its own,
// in the type that derives from this one. The limits are the types' static
// members, which the description's rows show and refusal() checks, so that
// every front end accepts exactly the same batches.
class FamilyRequest {
public:
    virtual ~FamilyRequest() = default;

    virtual const MapFamily &family() const = 0;
    virtual std::unique_ptr<FamilyRequest> clone() const = 0;
    // Why the batch cannot run as given, naming the options concerned;
    // nothing when it can. A range that visits no cover is refused: it
    // would write an empty list over the folder's old one.
    virtual std::optional<Phrase> refusal() const = 0;
    // The maps the dialog promises. A run can write fewer when the family
    // cannot reach a cover.
    virtual qint64 mapCount() const = 0;
    // The units a split batch is shared out by (see BatchShard): each
    // family says which units can be made apart and still give the files
    // the whole batch gives.
    virtual qint64 shareUnits() const = 0;
    // The maps a run sets out to make, for progress displays.
    virtual qint64 plannedMaps() const;
    // For a family shared out by map, or with targets by cell (a cover, or
    // a value of its sweep and a cover, counted in the order the batch
    // visits them): whether this run makes the replicate-th map of the
    // cell-th cell, a replicate of the request that is.
    bool ownsMapOf(qint64 cell, qint64 replicate) const;
    // At most what the batch puts on disk, for a file system of this
    // allocation unit.
    virtual DiskEstimate diskEstimate(qint64 blockSize) const = 0;
    // Makes the request a pilot sample of `samples` maps per cell, every
    // one an independent draw as targets need (see `scan`).
    virtual void makePilot(int samples) = 0;
    virtual SweepAxis sweepAxis() const { return {}; }
    // Reads the files the family's own options name (the study area and
    // the classes are read before), once a path is set; says why one
    // cannot be read, naming it.
    virtual std::optional<QString> settleOwnInputs() { return std::nullopt; }
    // Of the options given (their keys), those the request's other choices
    // leave unused, each in a warning that says why.
    virtual QList<Phrase> unusedOptions(const QStringList &given) const
    {
        Q_UNUSED(given);
        return {};
    }

    CoverRange covers;
    MapShape shape;
    int replicates = 1;
    BatchOutput output;
    // Surfaces of other families added to each of the family's surfaces
    // before the cut, for a family that takes them (MapFamily::blends).
    std::vector<BlendPart> blends;

protected:
    FamilyRequest() = default;
    FamilyRequest(const FamilyRequest &) = default;
    FamilyRequest &operator=(const FamilyRequest &) = default;
};

// One map's place in its batch as its file name tells it, and what the
// name's reader learns of it.
struct NamePlace {
    int cover = 0;
    qint64 replicate = 0;
    // The family's second sweep (H, a range).
    double axis = 0;
    // A family's own word in the name (the model of a field).
    QString variant;
    MapShape shape{0, 0};
    // The surface a file holds, by its seed, for families that name
    // surfaces so.
    qint64 seed = 0;
    // A file written beside the maps (the surface a map is cut from).
    bool surface = false;
    MapFormat format = MapFormat::Plain;
};

// How a family names its files, in one place: the names a run writes and
// the names by which an earlier run's files are recognised cannot drift
// apart, since a name is read by writing its place again.
class NameScheme {
public:
    virtual ~NameScheme() = default;
    // The part of a file's name after the run's stem, extension included.
    virtual QString tail(const NamePlace &place) const = 0;
    // The place a name's tail stands for, or nothing when it is no file of
    // the family. Only what tail() writes is read back.
    std::optional<NamePlace> read(QStringView tail) const;

protected:
    // The place the tail may stand for; read() keeps it only when tail()
    // writes the very same name for it.
    virtual std::optional<NamePlace> parse(QStringView tail) const = 0;
};

// A family of maps, as one object: everything a front end, the batch job,
// the manifest and the window need to know of it. The families a program
// knows are in the registry below; nothing outside a family's own folder
// and the list of families names it.
class MapFamily {
public:
    virtual ~MapFamily() = default;

    // The command (patchwright-cli WORD), the functions WORD_batch of
    // Python and R, and the kind column of the manifest and of a run's
    // record.
    virtual const char *word() const = 0;
    // What the family's maps are, in a line: "random maps: each cell ...".
    virtual QString summary() const = 0;
    // The name of a batch of it, for the window's title bars and summaries
    // ("Random landscapes"); its Create menu entry is this with an ellipsis.
    virtual QString title() const = 0;
    // Its entry in the window's Create menu.
    virtual QString menuText() const { return title() + QStringLiteral("…"); }
    // What a batch writes, how its files are named, for --help.
    virtual QString description() const = 0;
    // Example command lines, one a line, %1 standing for the program.
    virtual QString examples() const = 0;
    // The prefix of a front end that has no config.txt, or none in it.
    virtual QString defaultPrefix() const = 0;
    // Where config.txt holds this family's prefix and, on the next line,
    // its post-string (counted from 0), or -1 when it holds neither.
    virtual int configLine() const { return -1; }

    // The rows of the description, in the order of --help.
    virtual std::span<const BatchOption> options() const = 0;
    // A request with the family's defaults and default prefix.
    virtual std::unique_ptr<FamilyRequest> newRequest() const = 0;
    // What makes the maps of a request of this family.
    virtual std::unique_ptr<MapSource> source(const FamilyRequest &request) const = 0;
    virtual const NameScheme &names() const = 0;

    // Why command-line arguments that parse would run another batch than
    // the one meant (an option that once meant something else), or nothing.
    virtual std::optional<QString> misreadArguments(const QStringList &arguments) const
    {
        Q_UNUSED(arguments);
        return std::nullopt;
    }
    // Whether a pilot sample (`scan`) can be drawn of the family.
    virtual bool scans() const { return true; }
    // The manifest columns of the family's own that the window's status bar
    // names beside a map (a field's model and range).
    virtual QStringList statusColumns() const { return {}; }
    // Whether the family's surfaces take blends, and can be blended into
    // another family's (core/batch/surfaceblend.h).
    virtual bool blends() const { return false; }
    // Whether the window lists a finished batch's maps by name rather than
    // in the order they were written.
    virtual bool listsByName() const { return false; }

    // The real values a map of the request was made from (a surface, a
    // field), for a cover and a replicate (the draw, with targets), as
    // Python's and R's surface functions give them: rows x columns values,
    // row-major. Refused with the reason for a family that has none.
    struct Surface {
        // Storage a caller may hand in to be filled again.
        std::vector<double, BulkAllocator<double>> values;
        int rows = 0;
        int columns = 0;
    };
    virtual std::optional<Phrase> surface(const FamilyRequest &request, qint64 cover,
                                          qint64 replicate, Surface &surface) const;
};

// A family whose requests are Request and whose maps come from a Source
// built on one: what every family would otherwise write out again.
template <typename Request, typename Source> class FamilyOf : public MapFamily {
public:
    std::unique_ptr<FamilyRequest> newRequest() const override
    {
        auto request = std::make_unique<Request>();
        request->output.prefix = defaultPrefix();
        return request;
    }
    std::unique_ptr<MapSource> source(const FamilyRequest &request) const override
    {
        return std::make_unique<Source>(static_cast<const Request &>(request));
    }
};

// The families a program knows, in the order its menus, commands and help
// list them: the list of families (families/) first, then any a program
// adds for itself.
class FamilyRegistry final {
public:
    static FamilyRegistry &global();

    // The family lives as long as the process; a second family of the same
    // word is not added.
    void add(const MapFamily &family);
    std::span<const MapFamily *const> all() const { return m_families; }
    const MapFamily *named(QAnyStringView word) const;

private:
    FamilyRegistry() = default;
    std::vector<const MapFamily *> m_families;
};

inline std::span<const MapFamily *const> mapFamilies()
{
    return FamilyRegistry::global().all();
}
inline const MapFamily *familyNamed(QAnyStringView word)
{
    return FamilyRegistry::global().named(word);
}
// The words of every family as a message lists them: "a, b or c".
QString familyWords(const QString &lastJoin);
