#pragma once

#include <QString>

// How a batch run ended. A run that wrote nothing because its request could
// not be honoured is Refused; one that stopped at a file it could not write
// is WriteFailed, and everything written before that file stays valid.
struct BatchResult {
    enum class Status { Completed, Canceled, WriteFailed, Refused };

    Status status = Status::Completed;
    // For WriteFailed "path: reason", for Refused the reason; empty otherwise.
    QString message;

    bool ok() const { return status == Status::Completed || status == Status::Canceled; }

    static BatchResult completed() { return {}; }
    static BatchResult canceled() { return {Status::Canceled, {}}; }
    static BatchResult writeFailed(const QString &message)
    {
        return {Status::WriteFailed, message};
    }
    static BatchResult refused(const QString &message) { return {Status::Refused, message}; }
};
