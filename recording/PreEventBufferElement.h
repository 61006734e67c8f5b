#pragma once
// One element of the pre-event buffer's singly linked list, oldest to newest. Elements are
// created, linked, recycled and destroyed only by CPreEventBuffer under its buffer lock; an
// iterator keeps a pointer to the next element it will deliver.

#include "recording/SampleBuffer.h"

#include <memory>

struct CPreEventBufferElement {
    CPreEventBufferElement* next = nullptr; // the next newer element; null at the newest
    std::unique_ptr<CSampleBuffer> sample;  // created when the element is first filled
};
