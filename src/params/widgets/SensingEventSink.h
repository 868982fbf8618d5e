#pragma once
// The threshold-generation worker's notices as queued signals to the threshold
// dialog.
//
// The ISensingGenerateSink calls arrive on the "SensingGenerate" worker thread;
// each emits its signal and returns at once, so it never waits for the dialog's
// thread (which may be inside Stop, joining the worker). Connected with
// Qt::QueuedConnection, the dialog's slots run on its own thread in order. The
// sink must outlive the run: the dialog stops the worker before it goes.

#include <QObject>

#include "params/ThresholdGeneration.h"

class SensingEventSink : public QObject, public ISensingGenerateSink {
    Q_OBJECT

public:
    explicit SensingEventSink(QObject* parent = nullptr) : QObject(parent) {}

    void OnSensingProgress(int progress) override;
    void OnSensingFinished(int success) override;

signals:
    // The sensor's progress, in percent.
    void progressChanged(int percent);
    // The run has ended, with 100 % reached or not.
    void finished(bool success);
};
