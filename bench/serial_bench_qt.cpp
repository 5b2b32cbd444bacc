// The QSerialPort side of the benchmark, and the Qt side of the crossing our
// component needs to run from the same event loop.
#include <QCoreApplication>
#include <QSerialPort>
#include <QSocketNotifier>
#include <stdexcept>

#include "bench/serial_bench_ports.h"
#include "serial/main_thread.h"

namespace zp::bench {
namespace {

class QtPort : public TBenchPort {
  public:
    QtPort() {
        QObject::connect(&port_, &QSerialPort::readyRead, [this] {
            if (onReceive_) {
                onReceive_();
            }
        });
    }
    void Open(const std::string& path) override {
        port_.setPortName(QString::fromStdString(path));
        if (!port_.open(QIODevice::ReadWrite)) {
            throw std::runtime_error("QSerialPort: " + port_.errorString().toStdString());
        }
        port_.setBaudRate(115200);
    }
    void Close() override { port_.close(); }
    void Write(const char* data, size_t count) override {
        port_.write(data, static_cast<qint64>(count));
    }
    std::string Read() override { return port_.readAll().toStdString(); }
    void SetOnReceive(std::function<void()> onReceive) override {
        onReceive_ = std::move(onReceive);
    }

  private:
    QSerialPort port_;
    std::function<void()> onReceive_;
};

}  // namespace

std::unique_ptr<TBenchPort> MakeQSerialPort() {
    return std::make_unique<QtPort>();
}

void InstallBenchMainThread() {
    // As the application does it: the event loop watches the queue's wake-up.
    auto queue = std::make_shared<TMainThreadQueue>();
    auto* notifier = new QSocketNotifier(queue->WakeHandle(), QSocketNotifier::Read,
                                         QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [queue] { queue->RunPending(); });
    InstallMainThread(queue);
}

}  // namespace zp::bench
