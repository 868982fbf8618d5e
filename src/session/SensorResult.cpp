#include "session/SensorResult.h"

#include <cstdio>
#ifndef _WIN32
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#endif

#include "app/StringTable.h"

namespace {

// Joining dialout helps only where the port belongs to that group; for any other
// port (a pseudo-terminal, a rule's own group) the user is told whose it is.
std::string PermissionDeniedText(const std::string& path)
{
#ifdef _WIN32
    (void)path;
    return LoadStringText(TEXT_PERMISSION_DENIED);
#else
    struct stat st {};
    if (path.empty() || stat(path.c_str(), &st) != 0)
        return LoadStringText(TEXT_PERMISSION_DENIED);
    const group* grp = getgrgid(st.st_gid);
    const std::string groupName = grp ? grp->gr_name : std::to_string(st.st_gid);
    if (groupName == "dialout")
        return LoadStringText(TEXT_PERMISSION_DENIED);
    const passwd* owner = getpwuid(st.st_uid);
    const std::string ownerName = owner ? owner->pw_name : std::to_string(st.st_uid);
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return FormatStringText(TEXT_PERMISSION_DENIED_OWNER, path.c_str(), ownerName.c_str(), groupName.c_str(), mode);
#endif
}

}  // namespace

SensorResult SensorResult::FromStatus(uint16_t status, int timeoutMs)
{
    SensorResult result;
    switch (status) {
    case RADAR_STATUS_OK: break;
    case RADAR_ERR_TIMEOUT:
        result.failure = SensorFailure::NoReply;
        result.timeoutMs = timeoutMs;
        break;
    case RADAR_ERR_NOT_CONNECTED:
    case RADAR_ERR_WRITE_FAILED: result.failure = SensorFailure::LineLost; break;
    case RADAR_ERR_MALFORMED_REPLY: result.failure = SensorFailure::MalformedReply; break;
    default:
        result.failure = SensorFailure::SensorStatus;
        result.status = status;
        break;
    }
    return result;
}

SensorResult SensorResult::PortOpenFailed(const std::string& port, eRADAR_OPEN_ERROR error)
{
    SensorResult result;
    result.failure = SensorFailure::PortOpen;
    result.port = port;
    result.openError = error;
    return result;
}

std::string SensorResultText(const SensorResult& result)
{
    switch (result.failure) {
    case SensorFailure::None: return {};
    case SensorFailure::NotConnected: return LoadStringText(TEXT_DEVICE_NOT_CONNECTED);
    case SensorFailure::PortOpen: return PortOpenFailureText(result.port, result.openError);
    case SensorFailure::NoReply: return FormatStringText(TEXT_NO_REPLY_WITHIN, result.timeoutMs);
    case SensorFailure::LineLost: return LoadStringText(TEXT_LINE_LOST);
    case SensorFailure::MalformedReply:
        return result.detail.empty() ? LoadStringText(TEXT_MALFORMED_REPLY) : result.detail;
    case SensorFailure::SensorStatus:
        return FormatStringText(TEXT_SENSOR_STATUS, static_cast<unsigned>(result.status));
    }
    return {};
}

std::string OpenErrorText(eRADAR_OPEN_ERROR error)
{
    switch (error) {
    case eRADAR_OPEN_NO_SUCH_PORT: return LoadStringText(TEXT_NO_SUCH_PORT);
    case eRADAR_OPEN_BUSY: return LoadStringText(TEXT_PORT_BUSY);
    case eRADAR_OPEN_PERMISSION_DENIED: return LoadStringText(TEXT_PERMISSION_DENIED);
    case eRADAR_OPEN_BAD_BAUD_RATE: return LoadStringText(TEXT_BAD_BAUD_RATE);
    case eRADAR_OPEN_CONTROLLING_TERMINAL: return LoadStringText(TEXT_CONTROLLING_TERMINAL);
    case eRADAR_OPEN_IS_FOLDER: return LoadStringText(TEXT_PORT_IS_FOLDER);
    case eRADAR_OPEN_NOT_A_SERIAL_PORT: return LoadStringText(TEXT_PORT_NOT_SERIAL);
    case eRADAR_OPEN_NO_SERVER: return LoadStringText(TEXT_NETWORK_NO_SERVER);
    case eRADAR_OPEN_NO_LINE_CONTROL: return LoadStringText(TEXT_NETWORK_NO_LINE_CONTROL);
    default: return LoadStringText(TEXT_PORT_NOT_OPENED);
    }
}

std::string PortOpenFailureText(const std::string& path, eRADAR_OPEN_ERROR error)
{
    const std::string reason =
        error == eRADAR_OPEN_PERMISSION_DENIED ? PermissionDeniedText(path) : OpenErrorText(error);
    return FormatStringText(TEXT_CANNOT_OPEN_PORT, path.c_str(), reason.c_str());
}
