#pragma once

#include <string>

class TagSipCfg;

// The eight settings as the routing reads them: copied once from the configuration record at
// start and never refreshed. Addresses are kept whole, whatever their length.
struct WorkingValues {
    std::string msIp1;
    std::string msIp2;
    int msPort = 0;
    std::string myIp1;
    std::string myIp2;
    int myPort = 0;
    std::string outProxyAddr;
    int outProxyPort = 0;
};

extern WorkingValues gWorkingValues;

// The working values under the names the relay has always used for them.
inline std::string& gMsIp1 = gWorkingValues.msIp1;
inline std::string& gMsIp2 = gWorkingValues.msIp2;
inline int& gMsPort = gWorkingValues.msPort;
inline std::string& gMyIp1 = gWorkingValues.myIp1;
inline std::string& gMyIp2 = gWorkingValues.myIp2;
inline int& gMyPort = gWorkingValues.myPort;
inline std::string& gOutProxyAddr = gWorkingValues.outProxyAddr;
inline int& gOutProxyPort = gWorkingValues.outProxyPort;

// Copies the configuration into the working values, in the order the relay always has.
void CopyWorkingValues(const TagSipCfg& cfg);
