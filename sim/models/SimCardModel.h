// Virtual-card models: what a receiver model's virtual card carries beyond its scenario entry
// (the chip models behind its buses, the models of its FPGA blocks). Each model has its file
// here (SimCardModel<model>.cpp) and one line in the list of SimCardModels.cpp.
#pragma once

#include <span>

#include "SimCard.h"

struct SimCardModel {
    int m_Model;
    int m_SubType;                 // -1: every sub-type without a line of its own
    void (*m_pFit)(SimCard& card); // fits the model's parts onto a card built from a scenario entry
};

// Every registered model, in list order.
std::span<const SimCardModel> SimCardModels();
// The model of (model, subType): the line of that sub-type, else the model's line for every
// sub-type; null when the model has none.
const SimCardModel* SimFindCardModel(int model, int subType);

// The fitting functions of the model files.
void SimFitScenarioOnly(SimCard& card); // models whose card is its scenario entry alone
void SimFit3460(SimCard& card);
void SimFit3470(SimCard& card);
void SimFit3490(SimCard& card);
void SimFit3530(SimCard& card);            // sub-type 1, the twelve-port QAM card
void SimFit3530BlockDriver(SimCard& card);
