// ConvertRequest: what the file delivery (DoFile) and the convert task (DoConvertFile) ask of
// FileConvert::Convert. Outputs holds exactly one name on entry (its folder, stem and extension are
// used) and every file written on return, in order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class OcrPages;

struct ConvertRequest {
  ConvertRequest(std::vector<std::string>& outputs, std::vector<std::string>& inputs)
      : saOutputs(outputs), saInputs(inputs) {}

  std::vector<std::string>& saOutputs;
  std::vector<std::string>& saInputs;  // at least one
  int32_t nType = 0;                   // file type code of the output; nonzero
  int32_t nType2 = 0;                  // a second output's type; 0 = none
  std::string strExt2;                 // the second output's extension without "."; empty = none
  int32_t nQuality = -1;               // -1: 7 for type 75, else 100
  bool bMfpDtf = false;                // the inputs are wrapped fax streams
  int32_t nOutX = -1;                  // pixel size of the output; -1 keeps
  int32_t nOutY = -1;
  int32_t nOutX2 = -1;  // the same for the second output
  int32_t nOutY2 = -1;
  OcrPages* pOcr = nullptr;  // started by the caller: PDF pages get a text layer; null: none
};
