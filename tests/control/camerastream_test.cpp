// What a camera stream's threads do whatever the protocol: a thread that
// runs out of memory ends its stream, with words on the picture, and the
// host goes on.
#include "camerastream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <vector>

namespace {

class CStarvedStream final : public CCameraStream
{
public:
    static std::shared_ptr<CStarvedStream> Start()
    {
        std::shared_ptr<CStarvedStream> pStream(new CStarvedStream);
        StartThreads(pStream, { static_cast<ThreadBody>(&CStarvedStream::Starve),
                                static_cast<ThreadBody>(&CStarvedStream::WaitForStop) });
        return pStream;
    }

    std::atomic<bool> m_bWoken{ false };
    std::atomic<bool> m_bOtherEnded{ false };

private:
    CStarvedStream() : CCameraStream(L"127.0.0.1:81", nullptr, 0) {}
    void WakeForStop() override { m_bWoken = true; }
    void Starve()
    {
        std::vector<char> held(1 << 20);
        throw std::bad_alloc();
    }
    void WaitForStop()
    {
        WaitForSingleObject(m_evStop, INFINITE);
        m_bOtherEnded = true;
    }
};

} // namespace

TEST(CameraStream, AThreadOutOfMemoryEndsItsStreamWithWordsNotTheHost)
{
    std::shared_ptr<CStarvedStream> pStream = CStarvedStream::Start();
    const ULONGLONG nDeadline = GetTickCount64() + 20000;
    // The waking comes just after the stop is set: wait for both.
    while (!(pStream->m_bOtherEnded && pStream->m_bWoken) && GetTickCount64() < nDeadline)
        Sleep(10);
    EXPECT_TRUE(pStream->m_bOtherEnded); // the stream's other thread was told to end
    EXPECT_TRUE(pStream->m_bWoken);      // and one waiting elsewhere woken
    EXPECT_EQ(L"The stand-in ran out of memory for camera 127.0.0.1:81 and stopped its stream.", pStream->Status());
}
