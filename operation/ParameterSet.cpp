#include "operation/ParameterSet.h"

#include "acquisition/AcquisitionSettings.h"
#include "operation/ParameterSummary.h"

ParameterSet ParameterSet::choose(double rangeNa, const BiasVoltages &voltages, const IntegrationSearch::State &previous,
                                  const std::vector<double> &table)
{
    ParameterSet set;
    set.rangeNa = rangeNa;
    set.voltages = voltages;
    set.integration = previous;
    set.integrationFound = IntegrationSearch::run(table, rangeNa, set.integration);

    DeviceProtocol::Parameters parameters;
    parameters.vonVolts = voltages.von;
    parameters.voffVolts = voltages.voff;
    parameters.vbias1Volts = voltages.vbias1;
    parameters.vbias2Volts = voltages.vbias2;
    parameters.candidateIndex = set.integration.candidateIndex;
    parameters.currentRangeNa = rangeNa;
    parameters.integrationCount = std::uint32_t(set.integration.integrationCount);
    set.command = DeviceProtocol::parameterCommand(parameters);
    return set;
}

void ParameterSet::applyTo(AcquisitionSettings &worker, const std::vector<double> &table) const
{
    worker.setCurrentRange(int(rangeNa));
    worker.setIntegralCurrent(IntegrationSearch::integralCurrent(table, integration));
    worker.setIntegralTime(IntegrationSearch::integralTime(integration));
}

QString ParameterSet::summary() const
{
    return ParameterSummary::compose(rangeNa, BiasVoltages::text(voltages.vbias1), BiasVoltages::text(voltages.vbias2),
                                     BiasVoltages::text(voltages.von), BiasVoltages::text(voltages.voff));
}
