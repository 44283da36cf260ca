// CLiveClient: recording packaged frames to a file, from the first key frame on.
#include <cstring>

#include "CLiveClient.h"
#include "CLog.h"

namespace kx::sdk {

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

void CLiveClient::SaveRealData(const uint8_t* data, size_t size, bool keyFrame) {
    std::lock_guard<std::mutex> lock(m_mtxRecord);
    if (!m_pRecordFile || data == nullptr) return;
    if (!m_bRecordStarted && !keyFrame) return;  // a recording begins with a key frame
    const size_t written = std::fwrite(data, 1, size, m_pRecordFile.get());
    if (written < size) {
        KX_LOG(LOG_ERROR, "[%s] fwrite nSize : %d, dataSize : %d\n", "CLiveClient::SaveRealData",
               static_cast<int>(written), static_cast<int>(size));
    }
    m_bRecordStarted = true;
}

}  // namespace kx::sdk
