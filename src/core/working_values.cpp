#include "core/working_values.hpp"

#include "config/sip_cfg.hpp"

WorkingValues gWorkingValues;

void CopyWorkingValues(const TagSipCfg& cfg) {
    gMsIp1 = cfg.msIp1;
    gMsIp2 = cfg.msIp2;
    gMsPort = cfg.msPort;
    gMyIp1 = cfg.myIp1;
    gMyIp2 = cfg.myIp2;
    gMyPort = cfg.myPort;
    gOutProxyAddr = cfg.outProxyAddr;
    gOutProxyPort = cfg.outProxyPort;
}
