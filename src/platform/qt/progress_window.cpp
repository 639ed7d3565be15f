#include "progress_window.h"

#include "platform/picture.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdlib>

namespace korvane {

namespace {

using namespace std::chrono_literals;

constexpr auto kQuietWait = 500ms; // a load this short shows nothing
// How often the load is asked whether it is done: the picture shows that
// much after it is ready, at worst. The bar is redrawn every tenth time.
constexpr auto kPoll = 5ms;
constexpr int kPollsARefresh = 10;

// Closing it is the user giving up on the picture.
class ProgressWindow : public QWidget {
public:
    explicit ProgressWindow(const std::string& path)
    {
        const QString name = QFileInfo(QString::fromLocal8Bit(path.c_str())).fileName();
        setWindowTitle(name);
        auto* layout = new QVBoxLayout(this);
        auto* label = new QLabel(name, this);
        label->setTextFormat(Qt::PlainText);
        layout->addWidget(label);
        m_bar = new QProgressBar(this);
        layout->addWidget(m_bar);
        setMinimumWidth(360);
    }

    // Rows decoded so far; a busy bar while the total is not known.
    void update(const LoadProgress& progress)
    {
        const long long total = progress.total.load(std::memory_order_relaxed);
        const long long done = progress.done.load(std::memory_order_relaxed);
        if (total <= 0) {
            m_bar->setRange(0, 0);
            return;
        }
        m_bar->setRange(0, 1000);
        m_bar->setValue(static_cast<int>(done * 1000 / total));
    }

protected:
    void closeEvent(QCloseEvent* event) override
    {
        event->accept();
        std::_Exit(0); // the loading thread is still at work: nothing to save
    }

private:
    QProgressBar* m_bar = nullptr;
};

void waitShowingProgress(const std::string& path, const LoadProgress& progress,
    const std::function<bool(std::chrono::milliseconds)>& finished)
{
    if (finished(std::chrono::duration_cast<std::chrono::milliseconds>(kQuietWait)))
        return;
    ProgressWindow window(path);
    window.update(progress);
    window.show();
    // A real event loop, not a polling one: the window system's requests
    // (the window's map among them) are sent when the loop goes idle.
    QEventLoop loop;
    QTimer poll;
    int polls = 0;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (finished(0ms))
            loop.quit();
        else if (++polls % kPollsARefresh == 0)
            window.update(progress);
    });
    poll.start(kPoll);
    loop.exec();
    // Ended before the load (SIGTERM): as when this window is closed.
    if (!finished(0ms))
        std::_Exit(0);
}

} // namespace

void showProgressOfLongLoads()
{
    setLoadWaiter(waitShowingProgress);
}

} // namespace korvane
