#include "Customization.h"

std::string Customization::GetEntryPage() const { return "e1.asp"; }
std::string Customization::GetCommandName() const { return "ZELcmd"; }
std::string Customization::GetClientLogName() const { return "client.log"; }
std::string Customization::GetInterfaceLogName() const { return GetFilePrefix() + "interface.log"; }
std::string Customization::GetServiceName() const { return "ZELservice"; }
std::string Customization::GetExeLogName() const { return "exe.log"; }
// The development server; copies handed out by the service carry their own url.
std::string Customization::GetDefaultServerUrl() const { return "http://dev.sessions.example.com/velmoran/"; }
std::string Customization::GetDefaultOwner() const { return "542"; }
std::string Customization::GetDefaultLanguage() const { return "en"; }
std::string Customization::GetSessionPage() const { return "interfaces/web/isd/session.asp"; }
std::string Customization::GetDefaultTitle() const { return "Session assignment"; }
std::string Customization::GetComponentsPage() const { return "components/linux/default.asp"; }
std::string Customization::GetShortName() const { return "zel"; }
std::string Customization::GetInitScriptDirectory() const { return "/etc/init.d/"; }
bool Customization::MatchesInstallation(const std::string& directory) const {
    return directory == GetInstallDirectory();
}

int ZELsupportCustomization::GetProductId() const { return 0; }
std::string ZELsupportCustomization::GetProductName() const { return "ZELsupport"; }
std::string ZELsupportCustomization::GetRemoteControlName() const { return "ZELsupportRC"; }
std::string ZELsupportCustomization::GetServiceLogName() const { return "zelsupport_service.log"; }
std::string ZELsupportCustomization::GetInstallDirectory() const { return "/usr/local/ZEL/ZELsupport"; }
std::string ZELsupportCustomization::GetSetupName() const { return "ZELsupport_Setup"; }
std::string ZELsupportCustomization::GetInstallerLogName() const { return "zelsupport_installer.log"; }
std::string ZELsupportCustomization::GetServiceIdentifier() const { return "com.zel.support.service"; }
std::string ZELsupportCustomization::GetScriptName() const { return "ZELSupportScript"; }
std::string ZELsupportCustomization::GetSupportEmail() const { return "support@zelsupport.example.com"; }
std::string ZELsupportCustomization::GetServerBranch() const { return ""; }
std::string ZELsupportCustomization::GetConnectTestPage() const {
    return "/interfaces/web/installable/connecttest.asp";
}
std::string ZELsupportCustomization::GetFilePrefix() const { return "zelsupport_"; }
int ZELsupportCustomization::GetVariantNumber() const { return 504; }

int ZELconnectCustomization::GetProductId() const { return 1; }
std::string ZELconnectCustomization::GetProductName() const { return "ZELconnect"; }
std::string ZELconnectCustomization::GetRemoteControlName() const { return "ZELconnectRC"; }
std::string ZELconnectCustomization::GetServiceLogName() const { return "zelconnect_service.log"; }
std::string ZELconnectCustomization::GetInstallDirectory() const { return "/usr/local/ZEL/ZELconnect"; }
std::string ZELconnectCustomization::GetSetupName() const { return "ZELConnect_Setup"; }
std::string ZELconnectCustomization::GetInstallerLogName() const { return "zelconnect_installer.log"; }
std::string ZELconnectCustomization::GetServiceIdentifier() const { return "com.zel.connect.service"; }
std::string ZELconnectCustomization::GetScriptName() const { return "ZELConnectScript"; }
std::string ZELconnectCustomization::GetSupportEmail() const { return "support@zelconnect.example.com"; }
std::string ZELconnectCustomization::GetServerBranch() const { return "main"; }
std::string ZELconnectCustomization::GetConnectTestPage() const {
    return "/" + GetServerBranch() + "/interfaces/connecttest.asp";
}
std::string ZELconnectCustomization::GetFilePrefix() const { return "zelconnect_"; }
int ZELconnectCustomization::GetVariantNumber() const { return 0; }

int ZELadminCustomization::GetProductId() const { return 2; }
std::string ZELadminCustomization::GetProductName() const { return "ZELadmin"; }
std::string ZELadminCustomization::GetRemoteControlName() const { return "ZELadminRC"; }
std::string ZELadminCustomization::GetServiceLogName() const { return "zeladmin_service.log"; }
std::string ZELadminCustomization::GetInstallDirectory() const { return "/usr/local/ZEL/ZELadmin"; }
std::string ZELadminCustomization::GetSetupName() const { return "ZELadmin_Setup"; }
std::string ZELadminCustomization::GetInstallerLogName() const { return "zeladmin_installer.log"; }
std::string ZELadminCustomization::GetServiceIdentifier() const { return "com.zel.admin.service"; }
std::string ZELadminCustomization::GetScriptName() const { return "ZELAdminScript"; }
std::string ZELadminCustomization::GetSupportEmail() const { return "support@zeladmin.example.com"; }
std::string ZELadminCustomization::GetServerBranch() const { return "main"; }
std::string ZELadminCustomization::GetConnectTestPage() const {
    return "/" + GetServerBranch() + "/interfaces/connecttest.asp";
}
std::string ZELadminCustomization::GetFilePrefix() const { return "zeladmin_"; }
int ZELadminCustomization::GetVariantNumber() const { return 0; }

// Partner brand; shares its support address with ZELconnect.
int OVRACustomization::GetProductId() const { return 3; }
std::string OVRACustomization::GetProductName() const { return "VUK connect"; }
std::string OVRACustomization::GetRemoteControlName() const { return "VUKconnectRC"; }
std::string OVRACustomization::GetServiceName() const { return "VUKservice"; }
std::string OVRACustomization::GetServiceLogName() const { return "vukconnect_service.log"; }
std::string OVRACustomization::GetInstallDirectory() const { return "/usr/local/VUK/VUKconnect"; }
std::string OVRACustomization::GetSetupName() const { return "VUK Connect_Setup"; }
std::string OVRACustomization::GetInstallerLogName() const { return "vukconnect_installer.log"; }
std::string OVRACustomization::GetServiceIdentifier() const { return "com.vuk.connect.service"; }
std::string OVRACustomization::GetScriptName() const { return "VUKconnectScript"; }
std::string OVRACustomization::GetSupportEmail() const { return "support@zelconnect.example.com"; }
std::string OVRACustomization::GetServerBranch() const { return "main"; }
std::string OVRACustomization::GetShortName() const { return "vuk"; }
std::string OVRACustomization::GetConnectTestPage() const {
    return "/" + GetServerBranch() + "/interfaces/connecttest.asp";
}
std::string OVRACustomization::GetFilePrefix() const { return "vukconnect_"; }
int OVRACustomization::GetVariantNumber() const { return 0; }
