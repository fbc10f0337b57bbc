// The module record by which the browser finds the classes of a binary component (module version 20).
#pragma once

#include "xpcom/nsISupports.h"

namespace mozilla {

struct Module {
  static const unsigned int kVersion = 20;

  typedef nsresult (*ConstructorProcPtr)(nsISupports* outer, const nsIID& iid, void** result);
  typedef void* GetFactoryProcPtr;  // not used by this component
  typedef nsresult (*LoadFuncPtr)();
  typedef void (*UnloadFuncPtr)();

  struct CIDEntry {
    const nsCID* cid;
    bool service;
    GetFactoryProcPtr getFactoryProc;
    ConstructorProcPtr constructorProc;
  };

  struct ContractIDEntry {
    const char* contractid;
    const nsCID* cid;
  };

  struct CategoryEntry {
    const char* category;
    const char* entry;
    const char* value;
  };

  unsigned int mVersion;
  const CIDEntry* mCIDs;
  const ContractIDEntry* mContractIDs;
  const CategoryEntry* mCategoryEntries;
  GetFactoryProcPtr getFactoryProc;
  LoadFuncPtr loadProc;
  UnloadFuncPtr unloadProc;
};

}  // namespace mozilla
