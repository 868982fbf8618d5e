#include "session/widgets/SensorThread.h"

SensorThread::SensorThread(SensorSession& session, QObject* parent)
    : QObject(parent), session_(session), worker_(new QObject)
{
    thread_.setObjectName(QStringLiteral("Sensor"));
    worker_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    thread_.start();
}

SensorThread::~SensorThread()
{
    Stop();
}

void SensorThread::Stop()
{
    thread_.quit();
    thread_.wait();
}

void SensorThread::Started()
{
    if (pending_++ == 0)
        emit busyChanged(true);
}

void SensorThread::Finished()
{
    if (--pending_ == 0)
        emit busyChanged(false);
}
