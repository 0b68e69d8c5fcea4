// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// How the maps of a batch ended. A run stopped at a map it could not make
// or write is Failed, and everything written before that map stays valid.
struct BatchResult {
    enum class Status { Completed, Canceled, Failed };

    Status status = Status::Completed;
    // For Failed "path: reason" or what ran out; empty otherwise.
    QString message;

    bool ok() const { return status != Status::Failed; }

    static BatchResult completed() { return {}; }
    static BatchResult canceled() { return {Status::Canceled, {}}; }
    static BatchResult failed(const QString &message) { return {Status::Failed, message}; }
};
