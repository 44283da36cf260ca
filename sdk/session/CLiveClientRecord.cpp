// CLiveClient: recording packaged frames to a file, from the first key frame on, with the
// stream's configuration in front of that key frame so the file decodes from its start.
#include <cstring>
#include <new>

#include "CLiveClient.h"
#include "CLog.h"
#include "PackagedFrame.h"

namespace kx::sdk {

using Brelso::Public::LOG_DETAIL;
using Brelso::Public::LOG_ERROR;

int CLiveClient::StartSave(const char* fileName) {
    // A name that does not fit is refused before anything changes.
    if (fileName == nullptr || std::strlen(fileName) >= sizeof m_szRecordFile) return 0;
    std::lock_guard<std::mutex> lock(m_mtxRecord);
    CloseRecordLocked();
    FILE* file = std::fopen(fileName, "wb");
    if (file == nullptr) {
        KX_LOG(LOG_ERROR, "[%s] File open failed : %s \n", "CLiveClient::StartSave", fileName);
        return 0;
    }
    m_pRecordFile.reset(file);
    std::memset(m_szRecordFile, 0, sizeof m_szRecordFile);
    std::memcpy(m_szRecordFile, fileName, std::strlen(fileName));
    return 1;
}

int CLiveClient::StopSave() {
    std::lock_guard<std::mutex> lock(m_mtxRecord);
    CloseRecordLocked();
    return 1;
}

void CLiveClient::CloseRecordLocked() {
    m_pRecordFile.reset();  // flushes and closes: the file ends with a whole frame
    m_bRecordStarted = false;
    m_szRecordFile[0] = '\0';
}

void CLiveClient::SaveRealData(const uint8_t* data, size_t size, bool keyFrame,
                               const StreamStartConfig* startConfig, uint32_t seconds,
                               uint32_t microseconds) {
    std::lock_guard<std::mutex> lock(m_mtxRecord);
    if (!m_pRecordFile || data == nullptr) return;
    if (!m_bRecordStarted) {
        if (!keyFrame) return;  // a recording begins with a key frame
        if (startConfig != nullptr) WriteStartConfigLocked(*startConfig, seconds, microseconds);
    }
    WriteRecordLocked(data, size);
    m_bRecordStarted = true;
}

void CLiveClient::WriteRecordLocked(const uint8_t* data, size_t size) {
    const size_t written = std::fwrite(data, 1, size, m_pRecordFile.get());
    if (written < size) {
        KX_LOG(LOG_ERROR, "[%s] fwrite nSize : %d, dataSize : %d\n", "CLiveClient::SaveRealData",
               static_cast<int>(written), static_cast<int>(size));
    }
}

void CLiveClient::WriteStartConfigLocked(const StreamStartConfig& config, uint32_t seconds,
                                         uint32_t microseconds) {
    int units = 0;
    config.ForEach([&](const StreamStartConfig::Unit& unit) {
        const size_t need = kx::frame::packagedVideoSize(unit.bytes.size(), false);
        try {
            if (m_vecRecordConfig.size() < need) m_vecRecordConfig.resize(need);
        } catch (...) {
            return;  // no memory: the key frame is written without this unit
        }
        kx::frame::VideoFrameInfo info;
        info.dataType = unit.dataType;
        info.frameType = unit.frameType;
        info.hasStartCode = false;
        info.ptsSec = seconds;
        info.ptsUsec = microseconds;
        const size_t total = kx::frame::writeVideo(m_vecRecordConfig.data(), info,
                                                   unit.bytes.data(), unit.bytes.size());
        WriteRecordLocked(m_vecRecordConfig.data(), total);
        ++units;
    });
    KX_LOG(LOG_DETAIL, "[%s] RealHandle:%d, recording starts with %d configuration frames.\n",
           "CLiveClient::SaveRealData", m_nRealHandle.load(), units);
}

}  // namespace kx::sdk
