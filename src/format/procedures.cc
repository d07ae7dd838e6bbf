#include "format/procedures.h"

#include "common/messages.h"
#include "format/procedure_texts.h"

namespace format {

std::string DeleteDocText() { return common::LoadMessage(kDeleteDocMessage); }

std::string DeleteFolderText() { return common::LoadMessage(kDeleteFolderMessage); }

std::vector<SchemaObject> ViewAndProcedures() {
  std::vector<SchemaObject> objects = {
      {kSearchFolderView, std::string(kSearchFolderViewText)},
      {"DocByID", std::string(kDocByIDText)},
      {"DocByUrl", std::string(kDocByUrlText)},
      {"DocByUrlSize", std::string(kDocByUrlSizeText)},
      {"DocWithSub", std::string(kDocWithSubText)},
      {"DocsInFolder", std::string(kDocsInFolderText)},
      {"DocsSub", std::string(kDocsSubText)},
      {"DocsWithCategory", std::string(kDocsWithCategoryText)},
      {"FolderByID", std::string(kFolderByIDText)},
      {"FoldersRoot", std::string(kFoldersRootText)},
      {"FoldersOpen", std::string(kFoldersOpenText)},
      {"FoldersSub", std::string(kFoldersSubText)},
      {"DocCount", std::string(kDocCountText)},
      {"FolderCount", std::string(kFolderCountText)},
      {"CategoriesSub", std::string(kCategoriesSubText)},
      {"InsertSearchFolder", std::string(kInsertSearchFolderText)},
      {"RemoveSearchFolder", std::string(kRemoveSearchFolderText)},
      {"DeleteDoc", DeleteDocText()},
      {"DeleteFolder", DeleteFolderText()},
  };
  return objects;
}

std::optional<std::string> CreationText(std::string_view name) {
  for (auto& object : ViewAndProcedures()) {
    if (object.name == name) return std::move(object.creation_text);
  }
  return std::nullopt;
}

}  // namespace format
