#pragma once

#include <tolvane/Export.h>

#include <tolvane/PhantomGeometry.h>
#include <tolvane/PhantomLimits.h>
#include <tolvane/PhantomVerdict.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "base/CbSmartPointer.h"
#include "base/CbVector3f.h"
#include "container/KaCSurfelCollectionCCT.h"

namespace tolvane {

/// A phantom analysis that says how far to trust it. It runs KaCCalibrationPhantomCCTAnalyzer
/// unchanged and builds around it:
///
/// 1. cleaning: surfels of the clustering collection that lie on no surface (stray points of a
///    holder, a tray or scanner noise) are left out of the clustering; the samples collection
///    stays as it is;
/// 2. alignment: the collections the analyzer gets are turned into the phantom's own frame
///    (the mean normal gives the viewing axis, the wall normals the x and y axes), so that the
///    analyzer's fixed ordering of the faces holds at any pose; opposite walls of the
///    clustering collection are balanced (the stronger one thinned evenly), so that a wall
///    scanned in part does not tilt the analyzer's mean normal and swap two walls' roles;
/// 3. attempts: the analyzer runs, and its result is checked (PhantomVerdict); a failing result
///    is run again from the next rand() states, up to Options::nMaxAttempts times, and the
///    first passing attempt is kept;
/// 4. refinement: the analyzer's final clusters are refitted in double precision with centred
///    sums and measured again beside the analyzer's own numbers. When the analyzer measured a
///    thinned or turned copy of the samples, the refitted planes are then carried over to the
///    samples as passed (every sample joins its nearest plane, twice, in the scan's frame), so
///    that the refined numbers always measure every sample, and no turned copy of a large scan
///    is made.
///
/// Every result (planes, corners, display points, coloured samples) is given in the frame of
/// the scan as passed. Each stage can be switched off; with all of them off (one attempt, no
/// alignment, no cleaning, no clustering limit) the result holds exactly what one bare
/// analyzer run gives, plus the refined numbers and the verdict.
///
/// Ownership: shares both collections (counted pointers) and only reads them; the caller must
/// not change them while Run runs. Randomness: draws from the C library's rand() through the
/// analyzer. Threads: one thread at a time per object, and none other using rand().
class TOLVANE_API PhantomAnalysis {
 public:
  struct Options {
    /// Number of planes of the analyzer, at least 7.
    std::size_t nPlanes = 7;
    /// Analyzer runs at most; 1 gives the bare analyzer's single run. Eight attempts turn a
    /// failure rate of 22 % per run (measured on 150 mixed scans) into 5e-6.
    int nMaxAttempts = 8;
    /// Turn the scan into the phantom's frame before the analysis.
    bool bAlign = true;
    /// Leave stray points out of the clustering collection.
    bool bClean = true;
    /// Cluster (and clean) on an evenly thinned copy of the clustering collection (every k-th
    /// surfel): about one surfel in nClusteringShare, but at least nClusteringMinimum and at
    /// most nClusteringLimit of them (k at least 1). nClusteringLimit 0 keeps every surfel.
    /// The clustering's cost thus follows the scan's size, and so does the whole analysis's.
    unsigned int nClusteringLimit = 200000;
    unsigned int nClusteringShare = 25;
    unsigned int nClusteringMinimum = 12000;
    /// The analyzer measures every k-th sample, k the smaller of this and the clustering's
    /// step (the same rule applied to the samples). The refined numbers always measure every
    /// sample. How far thinning moves the results: docs/phantom.md.
    unsigned int nMeasuringStep = 4;
    PhantomLimits limits;
    /// Called with (steps done, steps in all) after the preparation, after each attempt,
    /// after each of the refinement's two rounds over the samples as passed and at the end, on
    /// the calling thread; never per surfel. The steps in all are the attempts allowed plus
    /// four; a passing attempt skips the attempts left, and an analysis without that
    /// refinement goes from its last attempt to the end. Empty: no calls.
    std::function<void(std::size_t nDone, std::size_t nTotal)> fnProgress;
  };

  /// A plane of the final analysis in the scan's frame, with its refined fit.
  struct Plane {
    std::string strRole;  ///< "rim", "wall -y", "wall +y", "wall -x", "wall +x", "floor", ...
    std::size_t nSamples = 0;
    CbVector3f normal;             ///< the analyzer's plane normal
    double refinedNormal[3] = {};  ///< unit, from the rim towards the floor for planes 0 and 5
    double refinedPoint[3] = {};   ///< the centroid of the plane's samples
    double fRmsResidual = 0.0;     ///< of the samples from the refined plane, mm
  };

  struct Result {
    /// The analyzer's four texts: depth, shearing, width, height.
    std::wstring strTexts[4];
    /// The quantities behind the texts, from the analyzer's corners and rim normal.
    phantom::Quantities<float> analyzer{};
    /// The same from the refined planes, in double precision.
    phantom::Quantities<double> refined{};
    /// Corners A to H in the scan's frame: the analyzer's and the refined ones.
    CbVector3f analyzerCorners[8];
    double refinedCorners[8][3] = {};
    std::vector<Plane> vecPlanes;
    /// The analyzer's 40 display points, in the scan's frame.
    std::vector<CbVector3f> vecDisplayPoints;
    /// The samples as passed, coloured in the analyzer's colours: value i + 1 for plane i, 0
    /// for the others. By the analyzer's own clusters when it measured the samples as passed
    /// (no alignment, no thinning), else by the refined planes.
    CbSmartPointer<KaCSurfelCollectionCCT> spColoured;
    PhantomVerdict verdict;
    int nAttempt = 0;   ///< the attempt whose result this is, from 1
    int nAttempts = 0;  ///< the attempts that ran
    bool bAligned = false;
    /// The rotation (rows) and origin that took the scan into the analysis frame:
    /// p_frame = R (p - origin).
    double rotation[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    double origin[3] = {};
    std::size_t nStrayPoints = 0;        ///< left out of the clustering
    std::size_t nClusteringSurfels = 0;  ///< after thinning, cleaning and balancing
    std::size_t nSamples = 0;
    std::size_t nIterations = 0;
    float fInitializationDuration = 0.0f;
    float fOverallDuration = 0.0f;
  };

  /// Holds both collections. Throws CbException for a null collection or fewer than 7 planes,
  /// or attempts below 1.
  PhantomAnalysis(CbSmartPointer<const KaCSurfelCollectionCCT> spClustering,
                  CbSmartPointer<const KaCSurfelCollectionCCT> spSamples, const Options& options);

  /// Runs the analysis. A scan that is no phantom, or one with too few surfels, gives a result
  /// with a failing verdict, not an exception. Exceptions of the collections (no positions, no
  /// normals) pass through.
  [[nodiscard]] Result Run() const;

 private:
  CbSmartPointer<const KaCSurfelCollectionCCT> m_spClustering;
  CbSmartPointer<const KaCSurfelCollectionCCT> m_spSamples;
  Options m_options;
};

/// The result as one JSON object (UTF-8): source, texts, analyzer and refined quantities with
/// nominal values and deviations in µm, verdict with every check, attempts, planes, the
/// pipeline's stages, durations and display points. The tool's --json prints it.
[[nodiscard]] TOLVANE_API std::string PhantomResultToJson(const PhantomAnalysis::Result& result,
                                                          const std::string& strSource);

/// The note on the shearing that reports and help texts carry: on a perfect phantom the
/// shearing reads 27, 30, 8 and 58 µm off the nominal values.
[[nodiscard]] TOLVANE_API const char* PhantomShearingNote();

}  // namespace tolvane
