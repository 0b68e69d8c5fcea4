// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// GDAL is registered on first use rather than at start-up, so programs that
// never touch a GeoTIFF do not pay for loading its drivers.
void registerGdalDrivers();

// Collects GDAL's errors on the calling thread for as long as it lives, so
// that GDAL prints nothing to stderr and the first failure can be handed to
// the user in a FileError. GDAL keeps its handler stack per thread, which is
// what makes this safe in a worker: one capture never sees another thread's
// errors.
class GdalErrorCapture final {
public:
    GdalErrorCapture();
    ~GdalErrorCapture();

    GdalErrorCapture(const GdalErrorCapture &) = delete;
    GdalErrorCapture &operator=(const GdalErrorCapture &) = delete;

    // Whether GDAL reported a failure since construction; warnings, which
    // GDAL also emits for harmless things, do not count.
    bool failed() const { return m_failed; }
    // The first failure's message, or `fallback` when GDAL gave none.
    QString reason(const QString &fallback) const;

    // `systemError` is errno as GDAL reported the failure: GDAL's own text
    // for a failed write leaves out the system's reason, which it still
    // holds then.
    void recordFailure(const char *message, int systemError);

private:
    bool m_failed = false;
    QString m_message;
};
