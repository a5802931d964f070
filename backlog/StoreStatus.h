// backlog/StoreStatus.h: what a store operation that touches the disk reports: ok, or why not.
#pragma once

#include <string>

namespace backlog {

class [[nodiscard]] StoreStatus
{
public:
    enum class Kind
    {
        Ok,
        DiskFull, // no space left (or over quota): writing works again once there is room
        Damaged,  // a file is not what the store keeps there (a directory where a file
                  // belongs, an index that cannot be read whole, bytes where a new data
                  // file is to start)
        IoError   // any other failure: the system's reason says which
    };

    StoreStatus() = default;
    static StoreStatus ok() { return {}; }
    // A failure of the operation `what` ("write dd8/bs3.dat") with the system's error number.
    static StoreStatus fromError(std::string what, int osError);
    static StoreStatus damaged(std::string what);

    bool isOk() const { return m_kind == Kind::Ok; }
    explicit operator bool() const { return isOk(); }
    Kind kind() const { return m_kind; }
    int osError() const { return m_osError; }
    // "cannot write dd8/bs3.dat: No space left on device"; empty when ok.
    const std::string& text() const { return m_text; }

private:
    Kind m_kind = Kind::Ok;
    int m_osError = 0;
    std::string m_text;
};

} // namespace backlog
