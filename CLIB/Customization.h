#pragma once
// Everything that differs between the products that share this launcher.

#include <string>

class Customization {
public:
    virtual ~Customization() = default;
    virtual int GetProductId() const = 0;
    virtual std::string GetEntryPage() const;
    virtual std::string GetProductName() const = 0;
    virtual std::string GetRemoteControlName() const = 0;
    virtual std::string GetCommandName() const;
    virtual std::string GetClientLogName() const;
    virtual std::string GetInterfaceLogName() const;
    virtual std::string GetServiceName() const;
    virtual std::string GetExeLogName() const;
    virtual std::string GetDefaultServerUrl() const;
    virtual std::string GetDefaultOwner() const;
    virtual std::string GetDefaultLanguage() const;
    virtual std::string GetSessionPage() const;
    virtual std::string GetDefaultTitle() const;
    virtual std::string GetComponentsPage() const;
    virtual std::string GetServiceLogName() const = 0;
    virtual std::string GetInstallDirectory() const = 0;
    virtual std::string GetSetupName() const = 0;
    virtual std::string GetInstallerLogName() const = 0;
    virtual std::string GetServiceIdentifier() const = 0;
    virtual std::string GetScriptName() const = 0;
    virtual std::string GetSupportEmail() const = 0;
    virtual std::string GetServerBranch() const = 0;
    virtual std::string GetShortName() const;
    virtual std::string GetConnectTestPage() const = 0;
    virtual std::string GetFilePrefix() const = 0;
    virtual std::string GetInitScriptDirectory() const;
    virtual int GetVariantNumber() const = 0;
    // Exact, case-sensitive comparison with GetInstallDirectory().
    virtual bool MatchesInstallation(const std::string& directory) const;
};

class ZELsupportCustomization : public Customization {
public:
    int GetProductId() const override;
    std::string GetProductName() const override;
    std::string GetRemoteControlName() const override;
    std::string GetServiceLogName() const override;
    std::string GetInstallDirectory() const override;
    std::string GetSetupName() const override;
    std::string GetInstallerLogName() const override;
    std::string GetServiceIdentifier() const override;
    std::string GetScriptName() const override;
    std::string GetSupportEmail() const override;
    std::string GetServerBranch() const override;
    std::string GetConnectTestPage() const override;
    std::string GetFilePrefix() const override;
    int GetVariantNumber() const override;
};

class ZELconnectCustomization : public Customization {
public:
    int GetProductId() const override;
    std::string GetProductName() const override;
    std::string GetRemoteControlName() const override;
    std::string GetServiceLogName() const override;
    std::string GetInstallDirectory() const override;
    std::string GetSetupName() const override;
    std::string GetInstallerLogName() const override;
    std::string GetServiceIdentifier() const override;
    std::string GetScriptName() const override;
    std::string GetSupportEmail() const override;
    std::string GetServerBranch() const override;
    std::string GetConnectTestPage() const override;
    std::string GetFilePrefix() const override;
    int GetVariantNumber() const override;
};

class ZELadminCustomization : public Customization {
public:
    int GetProductId() const override;
    std::string GetProductName() const override;
    std::string GetRemoteControlName() const override;
    std::string GetServiceLogName() const override;
    std::string GetInstallDirectory() const override;
    std::string GetSetupName() const override;
    std::string GetInstallerLogName() const override;
    std::string GetServiceIdentifier() const override;
    std::string GetScriptName() const override;
    std::string GetSupportEmail() const override;
    std::string GetServerBranch() const override;
    std::string GetConnectTestPage() const override;
    std::string GetFilePrefix() const override;
    int GetVariantNumber() const override;
};

// Partner brand.
class OVRACustomization : public Customization {
public:
    int GetProductId() const override;
    std::string GetProductName() const override;
    std::string GetRemoteControlName() const override;
    std::string GetServiceName() const override;
    std::string GetServiceLogName() const override;
    std::string GetInstallDirectory() const override;
    std::string GetSetupName() const override;
    std::string GetInstallerLogName() const override;
    std::string GetServiceIdentifier() const override;
    std::string GetScriptName() const override;
    std::string GetSupportEmail() const override;
    std::string GetServerBranch() const override;
    std::string GetShortName() const override;
    std::string GetConnectTestPage() const override;
    std::string GetFilePrefix() const override;
    int GetVariantNumber() const override;
};
