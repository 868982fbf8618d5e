#include "monitor/CurrentEstimate.h"

#include "app/AppConfig.h"
#include "app/XMLParser.h"
#include "common/ValueParse.h"
#include "params/ParamSetting.h"

double EstimateCurrent(int state, const ParamSetting& setting, const CurrentConstants& c) {
    const double td = c.CurrentDetectTimeMS;
    const double id = c.CurrentDetectValueMA;
    const double ilp = c.CurrentLPValueMA;
    switch (state) {
    case 0:
    case 1: {
        const double p0 = 1000.0 / setting.ResponseFreq;
        return ((p0 - td) * ilp + td * id) / p0;
    }
    case 2:
    case 3: {
        const double p1 = 1000.0 / setting.RangeReportFreq;
        const double k = setting.StateReportFreq / setting.RangeReportFreq - 1.0;
        const double tr = c.CurrentReportTimeMS;
        return (tr * c.CurrentReportValueMA * k + td * id + (p1 - td - k * tr) * ilp) / p1;
    }
    default:
        return 0.0;
    }
}

namespace {

struct ConstantAttribute {
    const char* name;
    double CurrentConstants::*field;
};

const ConstantAttribute CONSTANT_ATTRIBUTES[] = {
    {"CurrentDetectTimeMS", &CurrentConstants::CurrentDetectTimeMS},
    {"CurrentDetectValueMA", &CurrentConstants::CurrentDetectValueMA},
    {"CurrentLPValueMA", &CurrentConstants::CurrentLPValueMA},
    {"CurrentReportTimeMS", &CurrentConstants::CurrentReportTimeMS},
    {"CurrentReportValueMA", &CurrentConstants::CurrentReportValueMA},
};

}  // namespace

void LoadCurrentConstants(XMLNode objectInfo, CurrentConstants& constants) {
    for (const auto& attribute : CONSTANT_ATTRIBUTES)
        ReadConfigValue(objectInfo, attribute.name, (constants.*attribute.field));
}

void SaveCurrentConstants(XMLNode objectInfo, const CurrentConstants& constants) {
    for (const auto& attribute : CONSTANT_ATTRIBUTES)
        objectInfo.SetAttributeDouble(attribute.name, constants.*attribute.field, "%.5f");
}
