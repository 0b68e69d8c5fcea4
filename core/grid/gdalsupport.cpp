// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/grid/gdalsupport.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include <cerrno>
#include <cstring>
#include <mutex>

namespace {

void CPL_STDCALL captureError(CPLErr severity, CPLErrorNum, const char *message)
{
    if (severity < CE_Failure)
        return;
    const int systemError = errno;
    static_cast<GdalErrorCapture *>(CPLGetErrorHandlerUserData())
        ->recordFailure(message, systemError);
}

} // namespace

void registerGdalDrivers()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Nothing this program opens is on the network, and a map is one
        // file: no grid downloads for PROJ, no listing of a map's folder.
        OSRSetPROJEnableNetwork(FALSE);
        CPLSetConfigOption("GDAL_DISABLE_READDIR_ON_OPEN", "EMPTY_DIR");
        GDALAllRegister();
    });
}

GdalErrorCapture::GdalErrorCapture()
{
    // A value left from before says nothing about GDAL's failures.
    errno = 0;
    CPLPushErrorHandlerEx(captureError, this);
}

GdalErrorCapture::~GdalErrorCapture()
{
    CPLPopErrorHandler();
}

void GdalErrorCapture::recordFailure(const char *message, int systemError)
{
    // The first failure is the cause; what follows is usually GDAL giving
    // up on the steps that depended on it.
    if (m_failed)
        return;
    m_failed = true;
    m_message = QString::fromUtf8(message ? message : "").trimmed();
    // Only the errors of writing and creating files: GDAL looks for files
    // that need not exist on its way, which leaves ENOENT behind.
    switch (systemError) {
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
    case EROFS:
    case EIO:
    case EACCES:
    case EPERM: {
        const QString system = QString::fromLocal8Bit(std::strerror(systemError));
        if (m_message.isEmpty())
            m_message = system;
        else if (!m_message.contains(system))
            m_message += QStringLiteral(": ") + system;
        break;
    }
    default:
        break;
    }
}

QString GdalErrorCapture::reason(const QString &fallback) const
{
    return m_message.isEmpty() ? fallback : m_message;
}
