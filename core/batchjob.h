#pragma once

#include "core/batchprogress.h"
#include "core/batchrequest.h"
#include "core/batchresult.h"
#include "core/fileerror.h"
#include "core/maprecord.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

// What makes the maps of one kind of batch. The random and the fractal
// generators implement it; the batch job around them does everything that is
// the same for both.
class MapSource {
public:
    virtual ~MapSource() = default;

    virtual const BatchOutput &output() const = 0;
    // The request's own refusal; see RandomBatchRequest::refusal.
    virtual std::optional<QString> refusal() const = 0;
    // The free-space check's reason to refuse the batch on `folder`'s disk.
    virtual std::optional<QString> diskSpaceRefusal(const QString &folder) const = 0;
    // Writes the maps, each under nameStem and its own name, appending every
    // map to `written` once it is complete on disk, so that whatever the
    // outcome, `written` names exactly the maps a user can rely on.
    virtual BatchResult writeMaps(const QString &nameStem, QList<MapRecord> &written,
                                  BatchProgress &progress) = 0;
};

// Why a batch did not start. Nothing has been written when it is refused.
struct BatchRefusal {
    enum class Kind {
        // The request itself is wrong: a value out of range, say.
        Request,
        // The disk cannot hold what the batch would write.
        DiskSpace,
        // The folder is missing and cannot be made, or is not a folder.
        Folder,
    };
    Kind kind = Kind::Request;
    QString message;
};

// What a batch did, for the front end to present.
struct BatchReport {
    std::optional<BatchRefusal> refusal;
    // How the maps ended: all written, stopped by the user, or stopped at a
    // map that could not be written (the reason in its message).
    BatchResult result;
    // The maps complete on disk, in the order they were written.
    QList<MapRecord> maps;
    QString batchListPath;
    QString manifestPath;
    FileResult batchListError;
    FileResult manifestError;

    bool refused() const { return refusal.has_value(); }
    QStringList fileNames() const;
};

// The one way a batch runs, from whichever front end: check the request and
// the free space, prepare the folder, write the maps, then write the batch
// list and the manifest for the maps that were written, also when the run
// stopped early.
class BatchJob final {
public:
    explicit BatchJob(std::unique_ptr<MapSource> source);
    ~BatchJob();
    BatchJob(BatchJob &&) noexcept;
    BatchJob &operator=(BatchJob &&) noexcept;

    // The checks that come before anything is written, and the folder's
    // creation. A front end that must act between them and the run (clear
    // its list, say) calls this first; run() calls it otherwise. Repeated
    // calls repeat nothing.
    std::optional<BatchRefusal> prepare();

    // Runs the batch. May be called from any one thread; the progress is
    // reported, and the cancel request read, from that thread.
    BatchReport run(BatchProgress &progress);

    // The folder, the separator and the prefix every name of the run starts
    // with.
    QString nameStem() const;

private:
    std::unique_ptr<MapSource> m_source;
    std::optional<std::optional<BatchRefusal>> m_prepared;
};
