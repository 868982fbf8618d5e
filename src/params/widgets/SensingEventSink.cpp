#include "params/widgets/SensingEventSink.h"

void SensingEventSink::OnSensingProgress(int progress)
{
    emit progressChanged(progress);
}

void SensingEventSink::OnSensingFinished(int success)
{
    emit finished(success != 0);
}
