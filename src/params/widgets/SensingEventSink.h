#pragma once
// The threshold-generation worker's notices as messages posted to the generator
// dialog.
//
// Called on the "SensingGenerate" worker thread; every notice is posted and the
// call returns at once, so it never waits for the dialog's thread (which may be
// inside Stop, joining the worker). The dialog receives, on its own thread:
//     WM_SENSING_PROGRESS  wParam = progress in percent
//     WM_SENSING_FINISHED  wParam = 1 success, 0 failure
// The dialog must outlive the run: it stops the worker before it is destroyed.

#include "params/ThresholdGeneration.h"

class QObject;

class SensingEventSink : public ISensingGenerateSink {
public:
    explicit SensingEventSink(QObject* dialog) : dialog_(dialog) {}

    void OnSensingProgress(int progress) override;
    void OnSensingFinished(int success) override;

private:
    QObject* dialog_;
};
