// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/gdalsupport.h"

#include <cpl_error.h>
#include <gdal.h>

#include <mutex>

namespace {

void CPL_STDCALL captureError(CPLErr severity, CPLErrorNum, const char *message)
{
    if (severity < CE_Failure)
        return;
    static_cast<GdalErrorCapture *>(CPLGetErrorHandlerUserData())->recordFailure(message);
}

} // namespace

void registerGdalDrivers()
{
    static std::once_flag once;
    std::call_once(once, [] { GDALAllRegister(); });
}

GdalErrorCapture::GdalErrorCapture()
{
    CPLPushErrorHandlerEx(captureError, this);
}

GdalErrorCapture::~GdalErrorCapture()
{
    CPLPopErrorHandler();
}

void GdalErrorCapture::recordFailure(const char *message)
{
    // The first failure is the cause; what follows is usually GDAL giving
    // up on the steps that depended on it.
    if (m_failed)
        return;
    m_failed = true;
    m_message = QString::fromUtf8(message ? message : "").trimmed();
}

QString GdalErrorCapture::reason(const QString &fallback) const
{
    return m_message.isEmpty() ? fallback : m_message;
}
