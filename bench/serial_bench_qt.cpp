// The QSerialPort side of the benchmark, and the Qt crossing our component
// needs to run from the same event loop.
#include <QCoreApplication>
#include <QMetaObject>
#include <QSerialPort>
#include <stdexcept>

#include "main_thread.h"
#include "serial_bench_ports.h"

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

class QtMainThread : public IMainThread {
  public:
    bool Synchronize(const std::function<void()>& call) override {
        return QMetaObject::invokeMethod(
            QCoreApplication::instance(), [&call] { call(); }, Qt::BlockingQueuedConnection);
    }
};

}  // namespace

std::unique_ptr<TBenchPort> MakeQSerialPort() {
    return std::make_unique<QtPort>();
}

void InstallBenchMainThread() {
    InstallMainThread(std::make_shared<QtMainThread>());
}

}  // namespace zp::bench
